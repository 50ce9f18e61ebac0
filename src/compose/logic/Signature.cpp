#include "Signature.h"

using namespace Qt::StringLiterals;

namespace hollin {

QString bodyWithSignature(const QString &body, const QString &signature)
{
    if (signature.isEmpty())
        return body;
    QString text = body;
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    return text + u"\n\n"_s + signature;
}

} // namespace hollin
