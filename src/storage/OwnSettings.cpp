#include "OwnSettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool flush(QSettings &settings, Error *err)
{
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return fail(err, u"設定ファイル「%1」に書き込めませんでした。"_s.arg(settings.fileName()));
    return true;
}

} // namespace

OwnSettings::OwnSettings(const QString &path)
    : m_path(path)
{
}

QString OwnSettings::senderName() const
{
    return QSettings(m_path, QSettings::IniFormat).value(u"sender/name"_s).toString();
}

QString OwnSettings::signature() const
{
    return QSettings(m_path, QSettings::IniFormat).value(u"sender/signature"_s).toString();
}

bool OwnSettings::keepPasswordInFile() const
{
    return QSettings(m_path, QSettings::IniFormat).value(u"account/keepPasswordInFile"_s).toBool();
}

bool OwnSettings::passwordInKeyring() const
{
    return QSettings(m_path, QSettings::IniFormat).value(u"account/passwordInKeyring"_s).toBool();
}

bool OwnSettings::writeSender(const QString &name, const QString &signature, Error *err)
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(u"sender/name"_s, name);
    settings.setValue(u"sender/signature"_s, signature);
    return flush(settings, err);
}

bool OwnSettings::writeKeepPasswordInFile(bool keep, Error *err)
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(u"account/keepPasswordInFile"_s, keep);
    return flush(settings, err);
}

bool OwnSettings::writePasswordInKeyring(bool inKeyring, Error *err)
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(u"account/passwordInKeyring"_s, inKeyring);
    return flush(settings, err);
}

} // namespace hollin
