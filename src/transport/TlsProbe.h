#pragma once

#include <QString>

namespace hollin {

struct ServerAddress;

// Whether host:port answers a TLS handshake (the certificate is not
// checked: only the protocol matters). Used after a plain connection got no
// greeting, to tell a TLS-only port from a silent server.
bool speaksTls(const QString &host, quint16 port, int timeoutMs);

// For a plain connection that got no greeting: when the port speaks TLS, a
// sentence naming the form to type (secureScheme "pop3s" or "smtps"), else
// empty.
QString tlsOnlyHint(const ServerAddress &address, quint16 port, const QString &secureScheme, int timeoutMs);

} // namespace hollin
