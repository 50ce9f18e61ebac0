#include "UnsentDrafts.h"

#include "compose/WriteForm.h"
#include "compose/logic/UnsentDraftFile.h"
#include "reply/BackForm.h"
#include "winutil/Prompt.h"
#include "winutil/Windows.h"

using namespace Qt::StringLiterals;

namespace hollin {

void offerUnsentDrafts(Windows &windows, const DataRoot &root)
{
    const UnsentDraftFile compose(root, u"compose"_s);
    const UnsentDraftFile reply(root, u"reply"_s);
    if (!compose.exists() && !reply.exists())
        return;
    if (!Prompt::ask(nullptr, UnsentDraftFile::restoreQuestion())) {
        for (const UnsentDraftFile *file : {&compose, &reply}) {
            Error err;
            if (!file->remove(&err))
                Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
        }
        return;
    }
    MailDraft draft;
    Error err;
    if (compose.load(&draft, &err)) {
        WriteForm *form = windows.writeForm();
        form->restoreDraft(draft);
        windows.hideFloatingWindows();
        form->show();
    } else if (err.isSet()) {
        Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
    }
    err = Error();
    if (reply.load(&draft, &err))
        windows.backForm()->restoreDraft(draft);
    else if (err.isSet())
        Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
}

} // namespace hollin
