#include "DataRoot.h"

#include "FileIo.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Every name the program uses, in the spelling created when none exists.
const QStringList &canonicalNames()
{
    static const QStringList names = {
        u"★MailData"_s, u"ini.ini"_s, u"Form.ini"_s, u"iniIdPass.ini"_s,
        u"hlmdata2.data"_s, u"hlmdata10.data"_s, u"hlmdata20.data"_s,
        u"HLMDATA2.TMP"_s, u"HLMDATA10.TMP"_s, u"HLMDATA20.TMP"_s,
        u"画像データ"_s, u"添付フォルダ"_s, u"顔文字データ"_s, u"■TextQuickSave"_s,
        u"hlmail.ini"_s, u"Kao1.txt"_s, u"0.txt"_s,
    };
    return names;
}

QString canonicalSpelling(const QString &name)
{
    for (const QString &known : canonicalNames()) {
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return known;
    }
    return name;
}

// The entry of folder that is called name without regard to case: the canonical
// or the given spelling when it exists, else the first match, else the canonical spelling.
QString matchEntry(const QString &folder, const QString &name)
{
    const QString canonical = canonicalSpelling(name);
    if (QFileInfo::exists(folder + u'/' + canonical))
        return canonical;
    if (QFileInfo::exists(folder + u'/' + name))
        return name;
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                       | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return canonical;
}

} // namespace

DataRoot::DataRoot(const QString &rootFolder) : m_root(QDir::cleanPath(QDir(rootFolder).absolutePath()))
{
}

DataRoot DataRoot::locate(const QStringList &args, const QString &exeFolder)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--root" && i + 1 < args.size())
            return DataRoot(args.at(i + 1));
        if (args.at(i).startsWith(u"--root="))
            return DataRoot(args.at(i).mid(7));
    }
    const QString env = qEnvironmentVariable("HOLLIN_ROOT");
    if (!env.isEmpty())
        return DataRoot(env);
    if (!exeFolder.isEmpty() && QFileInfo(DataRoot(exeFolder).dataFolder()).isDir())
        return DataRoot(exeFolder);
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + u"/.local/share"_s;
    return DataRoot(dataHome + u"/hollin"_s);
}

bool DataRoot::ensureTree(Error *err) const
{
    const QStringList folders = {dataFolder(), pictureFolder(), attachmentFolder(), kaoFolder(),
                                 quickSaveFolder()};
    for (const QString &folder : folders) {
        if (!fileio::makeFolders(folder, err))
            return false;
    }
    return true;
}

QString DataRoot::resolve(const QString &relative) const
{
    QString path = m_root;
    const QStringList parts = relative.split(QRegularExpression(u"[\\\\/]"_s), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        path += u'/' + matchEntry(path, part);
    return path;
}

QString DataRoot::dataFolder() const { return resolve(u"★MailData"_s); }
QString DataRoot::iniFile() const { return resolve(u"★MailData/ini.ini"_s); }
QString DataRoot::formIniFile() const { return resolve(u"★MailData/Form.ini"_s); }
QString DataRoot::idPassIniFile() const { return resolve(u"★MailData/iniIdPass.ini"_s); }
QString DataRoot::receivedMailFile() const { return resolve(u"★MailData/hlmdata2.data"_s); }
QString DataRoot::receivedMailTemp() const { return resolve(u"★MailData/HLMDATA2.TMP"_s); }
QString DataRoot::uidlListFile() const { return resolve(u"★MailData/hlmuidl.txt"_s); }
QString DataRoot::storedMessageListFile() const { return resolve(u"★MailData/hlmmsgid.txt"_s); }

QStringList DataRoot::pendingListsOf(const QString &recordFile)
{
    const QFileInfo file(recordFile);
    if (file.fileName().compare(u"hlmdata2.data"_s, Qt::CaseInsensitive) != 0)
        return {};
    QStringList lists;
    for (const QString &name : {u"hlmuidl.txt"_s, u"hlmmsgid.txt"_s}) {
        const QStringList found = file.dir().entryList({name}, QDir::Files); // any case
        lists << file.dir().filePath(found.isEmpty() ? name : found.first());
    }
    return lists;
}

QString DataRoot::heldMailFile() const { return resolve(u"★MailData/hlmdata10.data"_s); }
QString DataRoot::heldMailTemp() const { return resolve(u"★MailData/HLMDATA10.TMP"_s); }
QString DataRoot::addressBookFile() const { return resolve(u"★MailData/hlmdata20.data"_s); }
QString DataRoot::addressBookTemp() const { return resolve(u"★MailData/HLMDATA20.TMP"_s); }
QString DataRoot::hollinIniFile() const { return resolve(u"★MailData/hollin.ini"_s); }
QString DataRoot::serverSettingsFile() const { return resolve(u"hlmail.ini"_s); }
QString DataRoot::pictureFolder() const { return resolve(u"画像データ"_s); }
QString DataRoot::attachmentFolder() const { return resolve(u"添付フォルダ"_s); }
QString DataRoot::kaoFolder() const { return resolve(u"顔文字データ"_s); }
QString DataRoot::quickSaveFolder() const { return resolve(u"■TextQuickSave"_s); }

} // namespace hollin
