#pragma once

#include <QJsonObject>
#include <QString>

namespace hollin {

// What a window that writes mail holds: recipient, subject, body, the
// attachment list (paths joined by ','), and what only one of the windows
// has: the copies a mailto: link brought and the whole-address-book mode
// (compose), the ids of the mail answered (reply).
struct MailDraft {
    // Every field may be left out of a brace initialiser.
    QString to = {}; // in the whole-address-book mode: the recipients typed before it
    QString subject = {};
    QString body = {};
    QString attachments = {};
    QString cc = {}; // addresses joined by ", "
    QString bcc = {};
    bool wholeBook = false;
    QString inReplyTo = {};  // "<id>"
    QString references = {}; // "<id> <id> …"

    bool isEmpty() const;
    // Every field by name, for the program's own files (UTF-8, nothing lost to CP932).
    QJsonObject toJson() const;
    static MailDraft fromJson(const QJsonObject &object);
    friend bool operator==(const MailDraft &, const MailDraft &) = default;
};

// Knows whether a compose or reply window holds content the user would lose:
// anything that is neither empty nor what was last sent, held or loaded from
// the held mails. Every action that replaces or discards the content asks
// first, with one of the two questions below.
class UnsentMail {
public:
    // "送信していない内容があります。"
    static QString question();
    // The answers to the question before closing; Cancel keeps the window.
    static QString holdAndClose(); // "保留して閉じる"
    static QString discard();      // "破棄"
    // The answer before replacing the content.
    static QString replace();      // "置き換える"
    static QString cancel();       // "キャンセル"

    // The content now is safe elsewhere (held, sent, or just loaded from a held mail).
    void settle(const MailDraft &draft) { m_settled = draft; }
    // True when losing current would lose something only the window holds.
    bool isAtRisk(const MailDraft &current) const;

private:
    MailDraft m_settled;
};

} // namespace hollin
