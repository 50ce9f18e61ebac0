#include "reply/ReplyText.h"

#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

ReplyText ReplyText::prefill(const QString &subject, const QString &sender, const QString &body)
{
    return ReplyText{trimSpaces(sender), u"Re:  "_s + trimSpaces(subject), trimSpaces(body)};
}

} // namespace hollin
