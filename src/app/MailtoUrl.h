#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace hollin {

// A mailto: link (RFC 6068): the addresses before "?" and the "to" fields
// together, the copies, the subject and the body, each percent-decoded as
// UTF-8, or as CP932 where the bytes are not UTF-8 (older Japanese sites).
// Other fields (in-reply-to …) are not kept.
struct MailtoUrl {
    QStringList to;
    QStringList cc;
    QStringList bcc;
    QString subject;
    QString body; // line breaks as "\n"

    // Empty when text is not a mailto: link.
    static std::optional<MailtoUrl> parse(const QString &text);
};

} // namespace hollin
