#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace hollin {

// A mailto: link (RFC 6068): the addresses before "?" and the "to" fields
// together, the subject and the body, each percent-decoded as UTF-8. Other
// fields (cc, bcc, in-reply-to …) are not kept: the compose window has no place
// for them.
struct MailtoUrl {
    QStringList to;
    QString subject;
    QString body; // line breaks as "\n"

    // Empty when text is not a mailto: link.
    static std::optional<MailtoUrl> parse(const QString &text);
};

} // namespace hollin
