#include "TlsTrust.h"

#include <QFileInfo>
#include <QMutex>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
QMutex g_mutex;
QList<QSslCertificate> g_extra;

QString extraCaFile()
{
    return qEnvironmentVariable("HOLLIN_EXTRA_CA_FILE");
}
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
    const QString file = extraCaFile();
    if (!file.isEmpty())
        cas += QSslCertificate::fromPath(file, QSsl::Pem);
    return cas;
}

QString extraCaFileProblem()
{
    const QString file = extraCaFile();
    if (file.isEmpty())
        return {};
    const QFileInfo info(file);
    if (!info.exists())
        return u"環境変数 HOLLIN_EXTRA_CA_FILE のファイル「%1」がありません。"_s.arg(file);
    if (!info.isFile() || !info.isReadable())
        return u"環境変数 HOLLIN_EXTRA_CA_FILE のファイル「%1」を読めません。"_s.arg(file);
    if (QSslCertificate::fromPath(file, QSsl::Pem).isEmpty())
        return u"環境変数 HOLLIN_EXTRA_CA_FILE のファイル「%1」に PEM 形式の証明書がありません。"_s.arg(file);
    return {};
}

QString certificateHint(const QString &host, bool nameMismatch, bool untrusted, const QStringList &certificateNames)
{
    QString hint;
    if (nameMismatch) {
        hint += u"サーバー名 %1 が証明書の名前と一致しません。"_s.arg(host);
        hint += certificateNames.isEmpty()
            ? u"証明書に書かれた名前をサーバー名に使ってください。"_s
            : u"証明書に書かれた名前（%1）をサーバー名に使ってください。"_s.arg(certificateNames.join(u"、"_s));
    }
    if (untrusted) {
        const QString problem = extraCaFileProblem();
        if (!problem.isEmpty())
            hint += u"サーバーの証明書を確認できません。"_s + problem;
        else if (!extraCaFile().isEmpty())
            hint += u"サーバーの証明書は、環境変数 HOLLIN_EXTRA_CA_FILE のファイル「%1」の証明書でも確認できません。"_s
                        .arg(extraCaFile());
        else
            hint += u"サーバーの証明書を確認できません。独自の認証局（社内 CA など）の証明書を信頼するには、"
                    u"その PEM ファイルのパスを環境変数 HOLLIN_EXTRA_CA_FILE に設定してください。"_s;
    }
    return hint;
}

} // namespace hollin
