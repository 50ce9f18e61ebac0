#include "AccountStore.h"

#include "Cp932.h"
#include "DataRoot.h"
#include "ProfileFile.h"
#include "ServerSettings.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The host of a server text ("pop3s://Host:995", "host:110", "[::1]"), lower case.
QString hostOf(const QString &server)
{
    QString host = server.trimmed();
    if (const qsizetype scheme = host.indexOf(u"://"_s); scheme >= 0)
        host = host.mid(scheme + 3);
    if (host.startsWith(u'['))
        return host.section(u']', 0, 0).mid(1).toLower();
    return host.section(u':', 0, 0).toLower();
}

} // namespace

AccountStore::AccountStore(const QString &idPassIniFile)
    : m_path(idPassIniFile)
    , m_own(QFileInfo(idPassIniFile).absolutePath() + u"/hollin.ini"_s)
    , m_legacyKeyring(QFileInfo(idPassIniFile).absoluteFilePath())
{
}

QString AccountStore::keyringKey(const QString &id) const
{
    const DataRoot root(QFileInfo(QFileInfo(m_path).absolutePath()).absolutePath());
    return id + u'@' + hostOf(ServerSettings::read(root.serverSettingsFile()).pop3Server);
}

bool AccountStore::keyringAvailable()
{
    if (!m_available)
        m_available = m_legacyKeyring.read(nullptr, &m_keyringProblem) != Keyring::Lookup::Unavailable;
    return *m_available;
}

AccountStore::Account AccountStore::load()
{
    const ProfileFile file(m_path, true);
    Account account{file.readText(u"NAME"_s), file.readText(u"NAME2"_s)};
    if (!account.password.isEmpty() || !m_own.passwordInKeyring())
        return account;
    QString password;
    Keyring::Lookup found = Keyring(keyringKey(account.id)).read(&password, &m_keyringProblem);
    if (found == Keyring::Lookup::NotFound)
        found = m_legacyKeyring.read(&password, &m_keyringProblem);
    if (found == Keyring::Lookup::Found)
        account.password = password;
    else if (found == Keyring::Lookup::NotFound)
        fail(&m_keyringProblem, u"キーリングにアカウント %1 のパスワードがありません。"_s.arg(keyringKey(account.id)));
    return account;
}

bool AccountStore::save(const QString &id, const QString &password, Error *err)
{
    const bool inKeyring = keyringAvailable();
    // The file is CP932: a character it cannot hold would come back as "?",
    // and the next login would use a different account.
    if (!Cp932::canEncode(id) || (!inKeyring && !Cp932::canEncode(password)))
        return fail(err, u"IDまたはパスワードに、保存できない文字（Shift-JIS にない文字）が含まれています。"_s);
    if (inKeyring && !Keyring(keyringKey(id)).write(password, err))
        return false;
    ProfileFile file(m_path, true);
    return m_own.writePasswordInKeyring(inKeyring, err)
        && file.writeText(u"NAME"_s, id, err)
        && file.writeText(u"NAME2"_s, inKeyring ? QString() : password, err)
        && file.writeText(u"NAME3"_s, u"1"_s, err);
}

bool AccountStore::markNotSaved(Error *err)
{
    return ProfileFile(m_path, true).writeText(u"NAME3"_s, u"0"_s, err);
}

bool AccountStore::passwordWaitsToMove()
{
    return !ProfileFile(m_path, true).readText(u"NAME2"_s).isEmpty() && keyringAvailable();
}

bool AccountStore::movePasswordToKeyring(Error *err)
{
    ProfileFile file(m_path, true);
    const QString password = file.readText(u"NAME2"_s);
    return Keyring(keyringKey(file.readText(u"NAME"_s))).write(password, err) && m_own.writePasswordInKeyring(true, err)
        && file.writeText(u"NAME2"_s, QString(), err);
}

bool AccountStore::movePasswordToFile(Error *err)
{
    if (!m_own.passwordInKeyring())
        return true; // already there
    const Account account = load();
    if (account.password.isEmpty())
        return fail(err, u"キーリングからパスワードを読めません。"_s, keyringProblem());
    if (!Cp932::canEncode(account.password))
        return fail(err, u"パスワードに、ファイルに保存できない文字（Shift-JIS にない文字）が含まれています。"_s);
    ProfileFile file(m_path, true);
    return file.writeText(u"NAME2"_s, account.password, err) && m_own.writeKeepPasswordInFile(true, err)
        && m_own.writePasswordInKeyring(false, err);
}

} // namespace hollin
