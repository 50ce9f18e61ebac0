#include "TlsProbe.h"

#include "ServerAddress.h"

#include <QDeadlineTimer>
#include <QSslSocket>

using namespace Qt::StringLiterals;

namespace hollin {

bool speaksTls(const QString &host, quint16 port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(host, port);
    return socket.waitForEncrypted(int(qMax<qint64>(1, deadline.remainingTime())));
}

QString tlsOnlyHint(const ServerAddress &address, quint16 port, const QString &secureScheme, int timeoutMs)
{
    if (!speaksTls(address.host, port, timeoutMs))
        return {};
    ServerAddress secure = address;
    secure.scheme = secureScheme;
    return u"このポートは暗号化（TLS）専用です。サーバー名を %1://%2 の形にしてください。"_s.arg(
        secureScheme, secure.hostPort(port));
}

} // namespace hollin
