#include "MailtoUrl.h"

#include "storage/Cp932.h"

#include <QStringDecoder>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// "%E4%BC%9A" → "会", "%89%EF" → "会" too (CP932); "+" stays a plus sign, as
// in every mailto: link.
QString decoded(QStringView text)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(text.toUtf8());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString asUtf8 = utf8(bytes);
    return utf8.hasError() ? Cp932::decode(bytes) : asUtf8;
}

// One line: a subject or an address cannot hold line breaks.
QString oneLine(QString text)
{
    text.replace(u"\r\n"_s, u" "_s);
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text.trimmed();
}

void addAddresses(QStringList *to, QStringView list)
{
    for (QStringView address : list.split(u','))
        if (const QString one = oneLine(decoded(address)); !one.isEmpty())
            to->append(one);
}

} // namespace

std::optional<MailtoUrl> MailtoUrl::parse(const QString &text)
{
    if (!text.startsWith(u"mailto:", Qt::CaseInsensitive))
        return std::nullopt;
    const QStringView rest = QStringView(text).mid(7);
    const qsizetype question = rest.indexOf(u'?');
    MailtoUrl url;
    addAddresses(&url.to, rest.left(question));
    if (question < 0)
        return url;
    bool haveSubject = false, haveBody = false;
    for (QStringView field : rest.mid(question + 1).split(u'&')) {
        const qsizetype equals = field.indexOf(u'=');
        const QString name = decoded(field.left(equals)).toLower();
        const QStringView value = equals < 0 ? QStringView() : field.mid(equals + 1);
        if (name == u"to") {
            addAddresses(&url.to, value);
        } else if (name == u"cc") {
            addAddresses(&url.cc, value);
        } else if (name == u"bcc") {
            addAddresses(&url.bcc, value);
        } else if (name == u"subject" && !haveSubject) {
            url.subject = oneLine(decoded(value));
            haveSubject = true;
        } else if (name == u"body" && !haveBody) {
            url.body = decoded(value).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
            haveBody = true;
        }
    }
    return url;
}

} // namespace hollin
