#include "UnsentMail.h"

#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

bool MailDraft::isEmpty() const
{
    return trimSpaces(to).isEmpty() && trimSpaces(subject).isEmpty() && trimSpaces(body).isEmpty()
        && attachments.isEmpty();
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
