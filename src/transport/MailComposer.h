#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace hollin {

struct OutgoingMail {
    QString from;              // "addr" or "名前 <addr>": the name goes out as an encoded display name
    QString to;                // addresses as RecipientList reads them ("addr", "名前<addr>", ...)
    QString subject;
    QString body;              // plain text, any line ends
    QStringList attachments;   // full paths
    QString cc = {};           // like to; empty for none. Blind copies never reach the header.
    // The answered mail's Message-ID and its References plus that id, each
    // "<id>"; text between ids is ignored, and so is an id with a space or a
    // control character. Empty for none.
    QString inReplyTo = {};
    QString references = {};
};

// Builds the RFC 5322 bytes of a mail (CR LF line ends): ISO-2022-JP when every
// character fits JIS X 0208, otherwise UTF-8; B-encoded header words of at most
// 75 characters; attachments as base64 parts named both ways.
class MailComposer {
public:
    static QByteArray build(const OutgoingMail &mail, Error *err = nullptr);
    // The bare address of one "addr" or "名前<addr>"; empty when there is none.
    static QString envelopeAddress(const QString &recipient);
    // What build() would say about these attachments without reading them:
    // each must be a regular file, all together within the size limit. For
    // the moment a file is picked, so that the user hears it then.
    static bool checkAttachments(const QStringList &paths, Error *err);
};

} // namespace hollin
