#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// What recognises a message stored before when its server id cannot (a
// damaged UIDL list, a server that renumbered its ids, an import run again):
// a SHA-1 over its Message-ID, its Date and its size, or over the whole
// message when it has no Message-ID. 40 hex digits.
QString messageKey(const QByteArray &raw);

// The unfolded, simplified raw value of the first header field of raw called
// name (lower case); empty when there is none.
QByteArray headerValue(const QByteArray &raw, const QByteArray &name);

} // namespace hollin
