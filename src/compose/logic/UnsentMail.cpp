#include "UnsentMail.h"

#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

bool MailDraft::isEmpty() const
{
    return trimSpaces(to).isEmpty() && trimSpaces(subject).isEmpty() && trimSpaces(body).isEmpty()
        && attachments.isEmpty() && cc.isEmpty() && bcc.isEmpty();
}

QJsonObject MailDraft::toJson() const
{
    return QJsonObject{{u"to"_s, to},
                       {u"subject"_s, subject},
                       {u"body"_s, body},
                       {u"attachments"_s, attachments},
                       {u"cc"_s, cc},
                       {u"bcc"_s, bcc},
                       {u"wholeBook"_s, wholeBook},
                       {u"inReplyTo"_s, inReplyTo},
                       {u"references"_s, references}};
}

MailDraft MailDraft::fromJson(const QJsonObject &object)
{
    const auto text = [&object](const QString &key) { return object.value(key).toString(); };
    return MailDraft{text(u"to"_s),          text(u"subject"_s), text(u"body"_s),
                     text(u"attachments"_s), text(u"cc"_s),      text(u"bcc"_s),
                     object.value(u"wholeBook"_s).toBool(), text(u"inReplyTo"_s), text(u"references"_s)};
}

QString UnsentMail::question() { return u"送信していない内容があります。"_s; }
QString UnsentMail::holdAndClose() { return u"保留して閉じる"_s; }
QString UnsentMail::discard() { return u"破棄"_s; }
QString UnsentMail::replace() { return u"置き換える"_s; }
QString UnsentMail::cancel() { return u"キャンセル"_s; }

bool UnsentMail::isAtRisk(const MailDraft &current) const
{
    return !current.isEmpty() && !(current == m_settled);
}

} // namespace hollin
