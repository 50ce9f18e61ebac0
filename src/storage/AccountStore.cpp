#include "AccountStore.h"

#include "Cp932.h"
#include "ProfileFile.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace hollin {

AccountStore::AccountStore(const QString &idPassIniFile)
    : m_path(idPassIniFile)
    , m_own(QFileInfo(idPassIniFile).absolutePath() + u"/hollin.ini"_s)
    , m_keyring(QFileInfo(idPassIniFile).absoluteFilePath())
{
}

bool AccountStore::keyringAvailable()
{
    if (!m_available)
        m_available = m_keyring.read(nullptr, &m_keyringProblem) != Keyring::Lookup::Unavailable;
    return *m_available;
}

AccountStore::Account AccountStore::load()
{
    const ProfileFile file(m_path, true);
    Account account{file.readText(u"NAME"_s), file.readText(u"NAME2"_s)};
    if (!account.password.isEmpty() || !m_own.passwordInKeyring())
        return account;
    Error err;
    QString password;
    if (m_keyring.read(&password, &err) == Keyring::Lookup::Found)
        account.password = password;
    return account;
}

bool AccountStore::save(const QString &id, const QString &password, Error *err)
{
    const bool inKeyring = keyringAvailable();
    // The file is CP932: a character it cannot hold would come back as "?",
    // and the next login would use a different account.
    if (!Cp932::canEncode(id) || (!inKeyring && !Cp932::canEncode(password)))
        return fail(err, u"IDまたはパスワードに、保存できない文字（Shift-JIS にない文字）が含まれています。"_s);
    if (inKeyring && !m_keyring.write(password, err))
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
    return m_keyring.write(password, err) && m_own.writePasswordInKeyring(true, err)
        && file.writeText(u"NAME2"_s, QString(), err);
}

} // namespace hollin
