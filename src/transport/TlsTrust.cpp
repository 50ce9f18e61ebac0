#include "TlsTrust.h"

#include <QMutex>

using namespace Qt::StringLiterals;

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

QString privateCaHint()
{
    return u"サーバーの証明書を確認できません。独自の認証局（社内 CA など）の証明書を信頼するには、"
           u"その PEM ファイルのパスを環境変数 HOLLIN_EXTRA_CA_FILE に設定してください。"_s;
}

} // namespace hollin
