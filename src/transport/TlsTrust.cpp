#include "TlsTrust.h"

#include <QMutex>

namespace hollin {

namespace {
QMutex g_mutex;
QList<QSslCertificate> g_extra;
} // namespace

void addExtraCaCertificates(const QList<QSslCertificate> &certificates)
{
    QMutexLocker lock(&g_mutex);
    g_extra += certificates;
}

QList<QSslCertificate> extraCaCertificates()
{
    QList<QSslCertificate> cas;
    {
        QMutexLocker lock(&g_mutex);
        cas = g_extra;
    }
    const QString file = qEnvironmentVariable("HOLLIN_EXTRA_CA_FILE");
    if (!file.isEmpty())
        cas += QSslCertificate::fromPath(file, QSsl::Pem);
    return cas;
}

} // namespace hollin
