#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace hollin {

// A parsed message (GMime) that frees itself. Input is tidied first: a
// leading byte-order mark or mbox "From " line goes, bare CR line ends become LF.
class MimeMessage {
public:
    explicit MimeMessage(const QByteArray &raw);
    explicit MimeMessage(GMimeMessage *adopted);
    ~MimeMessage();
    MimeMessage(const MimeMessage &) = delete;
    MimeMessage &operator=(const MimeMessage &) = delete;

    GMimeMessage *get() const { return message_; }
    bool isValid() const { return message_ != nullptr; }

private:
    GMimeMessage *message_ = nullptr;
};

// Helpers over GMime's tree, shared by the decoder and the extractor.
namespace mime {

void ensureInitialised();

// Raw bytes as the parser gets them: no byte-order mark or mbox "From " line,
// bare CR line ends turned into LF.
QByteArray tidy(const QByteArray &raw);

// The first raw value of a header field of an object, as written (folded).
QByteArray rawHeader(GMimeObject *object, const char *name);

// The transfer-decoded content of a leaf part.
QByteArray content(GMimePart *part);
// The content as text, by the part's charset label.
QString text(GMimePart *part);

// A leaf part meant as a file: disposition "attachment" or a file name.
bool isAttachment(GMimeObject *object);
bool isType(GMimeObject *object, const char *type, const char *subtype);

// The part whose text is the body: the first text/plain leaf that is no
// attachment, otherwise the first such text/html leaf (nested messages are
// not searched), otherwise the first delivery-status or disposition-
// notification report (a bounce or a read receipt that holds nothing else).
// Null when there is none. limitHit: as for leaves().
GMimePart *bodyPart(GMimeMessage *message, bool *limitHit = nullptr);

// Every object below the message's top part, depth first, in order; nested
// messages (message/rfc822) are listed but not entered. Multiparts nested
// deeper than 64 levels are listed as they are, not entered, and set
// *limitHit (when given).
QList<GMimeObject *> leaves(GMimeMessage *message, bool *limitHit = nullptr);

// The body text of a part chosen by bodyPart(): HTML is turned into text.
// Sets *limitHit when HTML nested too deep left text out (untouched otherwise).
QString bodyText(GMimePart *part, bool *limitHit = nullptr);

// CR LF line ends.
QString crlf(const QString &text);

} // namespace mime
} // namespace hollin
