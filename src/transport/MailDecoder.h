#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

class MimeMessage;

// What the program shows and stores of a received message.
struct DecodedMail {
    QString subject; // decoded Subject
    QString date;    // the Date header's text
    QString from;    // "name <address>" with the decoded name, or the address alone
    QString header;  // the raw header block, decoded as text (CR LF line ends)
    QString body;    // the text/plain part; the text of the HTML part when there is none
    bool limitHit = false; // nested too deep: parts or text below the limit were left out
};

// Decodes a raw RFC 5322 message (any line ends). Japanese charsets are read
// as their Microsoft supersets; a wrong or missing label falls back to a guess.
class MailDecoder {
public:
    static DecodedMail decode(const QByteArray &raw);
    // The same, with raw already parsed (so that the extractor can share it).
    static DecodedMail decode(const QByteArray &raw, const MimeMessage &message);
    // Only the header fields (for a TOP n 0 reply or a header block).
    static DecodedMail decodeHeader(const QByteArray &rawHeader);
};

} // namespace hollin
