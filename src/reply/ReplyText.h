#pragma once

#include <QString>

namespace hollin {

// The texts of a reply, without the window.
struct ReplyText {
    QString to;
    QString subject;
    QString body;

    // From the inbox's subject, sender and body as shown there:
    // "Re:" + two spaces + the trimmed subject without the "Re:" marks it
    // already has, the trimmed sender, the trimmed body without the program's
    // note that the mail's full text was kept in a file.
    static ReplyText prefill(const QString &subject, const QString &sender, const QString &body);
};

} // namespace hollin
