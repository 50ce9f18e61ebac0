#include "UnsentDrafts.h"

#include "compose/MailFields.h"
#include "compose/WriteForm.h"
#include "compose/logic/UnsentDraftFile.h"
#include "reply/BackForm.h"
#include "winutil/Prompt.h"
#include "winutil/Windows.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

void warn(const Error &err)
{
    Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
}

// The files of one window: the one the last run left behind, then those put off.
QList<UnsentDraftFile> keptFiles(const DataRoot &root, const QString &window)
{
    QList<UnsentDraftFile> files;
    const UnsentDraftFile left(root, window);
    if (left.exists())
        files.append(left);
    files.append(UnsentDraftFile::putOff(root, window));
    return files;
}

// Opens the first kept file of a window in it; the others wait for the next start.
void open(Windows &windows, const DataRoot &root, const QString &window, const QList<UnsentDraftFile> &files)
{
    if (files.isEmpty())
        return;
    const UnsentDraftFile &file = files.first();
    MailDraft draft;
    Error err;
    if (!file.load(&draft, &err)) {
        if (err.isSet())
            warn(err);
        return;
    }
    MailFields *fields = nullptr;
    if (window == u"compose") {
        WriteForm *form = windows.writeForm();
        form->restoreDraft(draft);
        windows.hideFloatingWindows();
        form->show();
        fields = &form->fields();
    } else {
        BackForm *form = windows.backForm();
        form->restoreDraft(draft);
        fields = &form->fields();
    }
    // A file put off is now the window's: kept under the window's own name first.
    if (file.path() != UnsentDraftFile(root, window).path()) {
        fields->saveRecovery();
        if (!file.remove(&err))
            warn(err);
    }
}

} // namespace

void offerUnsentDrafts(Windows &windows, const DataRoot &root)
{
    const QList<UnsentDraftFile> compose = keptFiles(root, u"compose"_s);
    const QList<UnsentDraftFile> reply = keptFiles(root, u"reply"_s);
    if (compose.isEmpty() && reply.isEmpty())
        return;
    switch (Prompt::askWithButtons(nullptr, UnsentDraftFile::restoreQuestion(), UnsentDraftFile::openAnswer(),
                                   UnsentDraftFile::discardAnswer(), UnsentDraftFile::laterAnswer())) {
    case Prompt::Answer::Yes:
        open(windows, root, u"compose"_s, compose);
        open(windows, root, u"reply"_s, reply);
        return;
    case Prompt::Answer::No:
        for (const UnsentDraftFile &file : compose + reply) {
            Error err;
            if (!file.remove(&err))
                warn(err);
        }
        return;
    default:
        // Kept for the next start, out of the way of the windows' own files.
        for (const QString &window : {u"compose"_s, u"reply"_s}) {
            const UnsentDraftFile left(root, window);
            Error err;
            if (left.exists() && !left.putOffForLater(&err))
                warn(err);
        }
        return;
    }
}

} // namespace hollin
