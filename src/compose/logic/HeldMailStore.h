#pragma once

#include "compose/logic/HeldMailExtras.h"
#include "compose/logic/UnsentMail.h"
#include "storage/DataRoot.h"
#include "storage/Error.h"
#include "storage/MailRecordFile.h"

#include <QList>
#include <QString>

namespace hollin {

// A held mail as the compose and reply windows show it: recipient, subject
// and body from its record, the rest from the list of extras beside the file.
using HeldMail = MailDraft;

// One row of a held-mail side list.
struct HeldListRow {
    int recordNumber = 0; // 1-based record of the held-mail file
    QString subject;      // as stored: full 100-character width, cut at NUL
};

// The held-mail file ★MailData/hlmdata10.data: mails put aside to be sent
// later, also used as reusable drafts. One MailRecord per held mail, oldest
// first; Subject = subject, Address = recipient, Body = body, Date blank.
// Loading never removes a held mail; a hold always appends.
//
// Shared by the compose window (WriteForm) and the reply window (BackForm).
// A window's hold runs:
//   if (HeldMailStore::subjectMissing(subject))      -> message emptySubjectMessage(), end
//   ask holdQuestion()                                  -> No ends
//   if (HeldMailStore::subjectTooLong(subject)) ask longSubjectQuestion() -> No ends
//   if (HeldMailStore::bodyTooLong(body)) ask tooLongQuestion() -> No ends
//   characters CP932 lacks: ask cp932LossQuestion()     -> No ends
//   store.hold(mail, &err)                              -> failure: show err.text(), fields kept
//   empty recipient, subject and body; list the held mails
// Its delete asks deleteQuestion() and then calls remove(recordNumber).
// Nothing here shows anything: the windows ask through Prompt.
class HeldMailStore {
public:
    explicit HeldMailStore(const DataRoot &root);

    // "件名が空白です。保存出来ません。"
    static QString emptySubjectMessage();
    // "作成したメールを保留し（保存）後で送信しますか？ 保存後、内容をクリアします。"
    static QString holdQuestion();
    // "本文が長すぎるため、32000バイトを超える部分は保存されません。保存しますか？"
    static QString tooLongQuestion();
    // "件名が長すぎるため、100バイトを超える部分は保存されません。保存しますか？"
    static QString longSubjectQuestion();
    // "データが選択されていません"
    static QString noSelectionMessage();
    // "選択された（行、青色）データを削除します。よろしいですか"
    static QString deleteQuestion();
    // What the reply window, which sends to its recipient box only, cannot
    // send of a held mail (the whole-address-book mode, the copies), told
    // when it is picked there; empty when nothing.
    static QString notSentFromReply(const HeldMail &mail);

    // True only for an empty subject box; a subject of spaces is held (its row is blank).
    static bool subjectMissing(const QString &subjectText);
    // True when the body, trimmed as the hold stores it, needs more than the
    // record's 32000 bytes: the hold would keep only its beginning.
    static bool bodyTooLong(const QString &bodyText);
    // The same for the subject and the record's 100 bytes.
    static bool subjectTooLong(const QString &subjectText);

    // Appends the mail, each text with ordinary spaces removed at both ends,
    // and returns its record number (count + 1), or -1 with err set. A
    // recipient list longer than the record's 90 bytes is refused, not cut.
    // A character CP932 lacks is stored as 〓, as in received mail. The
    // attachments, copies, mode and thread go into the list of extras;
    // extrasErr is set when they could not be kept (the mail is held).
    int hold(const HeldMail &mail, Error *err = nullptr, Error *extrasErr = nullptr);

    // The subject rows of every held mail in record order. A missing file lists nothing.
    bool list(QList<HeldListRow> *rows, Error *err = nullptr) const;

    // Held mail n, whole: recipient, subject and the entire stored body, each
    // cut at NUL and with ordinary spaces removed at both ends, and its
    // extras. extrasErr is set when the list of extras cannot be read: the
    // mail comes without them.
    bool load(int recordNumber, HeldMail *out, Error *err = nullptr, Error *extrasErr = nullptr) const;

    // Removes held mail n; the later ones move down by one.
    bool remove(int recordNumber, Error *err = nullptr);
    // Removes every held mail and the list of their extras.
    bool removeAll(Error *err = nullptr);

    int count(Error *err = nullptr) const;

    QString path() const { return m_file.path(); }

private:
    bool loadRecord(int recordNumber, HeldMail *out, Error *err) const;

    MailRecordFile m_file;
    HeldMailExtras m_extras;
};

} // namespace hollin
