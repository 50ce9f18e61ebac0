#pragma once

#include "storage/Error.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace hollin {

struct Recipient {
    QString text;    // the item as typed, blanks removed at both ends
    QString name;    // the business-card name, or empty
    QString address; // the bare address; empty when the item has none
};

// The addresses of a recipient box: items separated by "," "、" or ";", each
// "addr" or the business-card form "名前<addr>". A separator inside quotes or
// angle brackets, or before the item has an "@", belongs to the item, so that
// a card name such as "山田、太郎<yamada@example.jp>" stays whole.
class RecipientList {
public:
    // Every item of text; empty items (",," or a trailing ",") are skipped.
    // False with err naming the first malformed item, or when there is none;
    // field names the box in the message ("宛先", "Cc").
    static bool parse(const QString &text, const QString &field, QList<Recipient> *out, Error *err = nullptr);
    // One item; an empty address when it is neither form. A line break
    // refuses the item: what follows it is not what a one-line box shows.
    static Recipient parseOne(const QString &item);
    // The items of text whose address is among addresses (case-insensitive),
    // joined by ", ": what is left to send after the others got the mail.
    static QString only(const QString &text, const QStringList &addresses);
};

} // namespace hollin
