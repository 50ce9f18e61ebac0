#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// What recognises a message stored before when its server id cannot (a
// damaged UIDL list, a server that renumbered its ids, an import run again):
// a SHA-1 over the whole message, its line ends taken as LF and its trailing
// empty lines left out, so that a POP3 copy (CR LF) and an mbox copy (LF) of
// one message agree. 40 hex digits. Never the Message-ID alone: alerts and
// one-time codes come with the same Message-ID, Date and size and a
// different text, and a key that matched would delete such a mail unstored.
QString messageKey(const QByteArray &raw);

// The unfolded, simplified raw value of the first header field of raw called
// name (lower case); empty when there is none.
QByteArray headerValue(const QByteArray &raw, const QByteArray &name);

} // namespace hollin
