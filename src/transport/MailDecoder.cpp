#include "transport/MailDecoder.h"

#include "transport/Charset.h"
#include "transport/MimeHeader.h"
#include "transport/MimeTree.h"

#include "transport/MimeGlib.h"

namespace hollin {

namespace {

// The bytes before the first empty line.
QByteArray headerBlock(const QByteArray &bytes)
{
    qsizetype lineStart = 0;
    while (lineStart < bytes.size()) {
        qsizetype eol = bytes.indexOf('\n', lineStart);
        if (eol < 0)
            return bytes;
        const QByteArray line = bytes.mid(lineStart, eol - lineStart);
        if (line.isEmpty() || line == "\r")
            return bytes.left(lineStart);
        lineStart = eol + 1;
    }
    return bytes;
}

DecodedMail decodeMessage(const QByteArray &raw, const MimeMessage &message, bool withBody)
{
    DecodedMail mail;
    const QByteArray bytes = mime::tidy(raw);
    QString header = mime::crlf(Charset::guess(headerBlock(bytes)));
    while (header.endsWith(u"\r\n"))
        header.chop(2);
    mail.header = Charset::composed(header);

    if (!message.isValid()) {
        if (withBody)
            mail.body = Charset::composed(mime::crlf(Charset::guess(bytes))).replace(QChar(0), QChar(0xFFFD));
        return mail;
    }
    GMimeObject *top = GMIME_OBJECT(message.get());
    mail.subject = Charset::composed(MimeHeader::decode(mime::rawHeader(top, "Subject")));
    mail.from = Charset::composed(MimeHeader::decodeMailboxes(mime::rawHeader(top, "From")));
    mail.date = Charset::composed(MimeHeader::decode(mime::rawHeader(top, "Date")));
    if (withBody)
        mail.body = Charset::composed(mime::bodyText(mime::bodyPart(message.get(), &mail.limitHit), &mail.limitHit));
    return mail;
}

} // namespace

DecodedMail MailDecoder::decode(const QByteArray &raw)
{
    return decodeMessage(raw, MimeMessage(raw), true);
}

DecodedMail MailDecoder::decode(const QByteArray &raw, const MimeMessage &message)
{
    return decodeMessage(raw, message, true);
}

DecodedMail MailDecoder::decodeHeader(const QByteArray &rawHeader)
{
    QByteArray bytes = rawHeader;
    if (!bytes.endsWith('\n'))
        bytes += "\r\n";
    bytes += "\r\n";
    return decodeMessage(bytes, MimeMessage(bytes), false);
}

} // namespace hollin
