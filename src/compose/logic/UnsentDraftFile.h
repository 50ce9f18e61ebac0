#pragma once

#include "compose/logic/UnsentMail.h"
#include "storage/DataRoot.h"
#include "storage/Error.h"

#include <QList>

namespace hollin {

// The recovery file of one window that writes mail, in the data folder: what
// was typed and not yet sent or held, kept whole (UTF-8 JSON, so nothing is
// lost to CP932). It is replaced atomically, under the data folder's lock
// while it is written, and removed when the mail is sent, held or closed
// cleanly; a file left behind means the program ended without that.
class UnsentDraftFile {
public:
    // window: "compose" or "reply", part of the file name.
    UnsentDraftFile(const DataRoot &root, const QString &window);

    // "前回、送信されなかったメールがあります。開きますか？"
    static QString restoreQuestion();
    // Its answers: "開く", "あとで" (kept, asked again at the next start), "破棄".
    static QString openAnswer();
    static QString laterAnswer();
    static QString discardAnswer();

    // The window's files that were put off with あとで, oldest first.
    static QList<UnsentDraftFile> putOff(const DataRoot &root, const QString &window);
    // Renames the file out of the window's way (the window would write over
    // it), to be offered again at the next start.
    bool putOffForLater(Error *err = nullptr) const;

    // Waits briefly for the data folder's lock; *busy is set when another
    // writer still held it (nothing is lost: the window keeps the mail).
    bool save(const MailDraft &draft, Error *err = nullptr, bool *busy = nullptr) const;
    // False with err set when the file exists and cannot be read; false with
    // err unset when there is none.
    bool load(MailDraft *draft, Error *err = nullptr) const;
    bool exists() const;
    bool remove(Error *err = nullptr) const;
    QString path() const { return m_path; }

private:
    UnsentDraftFile(const QString &folder, const QString &path) : m_folder(folder), m_path(path) {}

    QString m_folder;
    QString m_path;
};

} // namespace hollin
