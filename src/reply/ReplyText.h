#pragma once

#include <QString>

namespace hollin {

// The texts of a reply, without the window.
struct ReplyText {
    QString to;
    QString subject;
    QString body;

    // From the inbox's subject, sender and body as shown there:
    // "Re:" + two spaces + the trimmed subject, the trimmed sender, the trimmed body.
    static ReplyText prefill(const QString &subject, const QString &sender, const QString &body);
};

} // namespace hollin
