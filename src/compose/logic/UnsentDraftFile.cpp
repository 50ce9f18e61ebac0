#include "UnsentDraftFile.h"

#include "storage/DataFolderLock.h"
#include "storage/FileIo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace hollin {

UnsentDraftFile::UnsentDraftFile(const DataRoot &root, const QString &window)
    : m_folder(root.dataFolder()), m_path(QDir(root.dataFolder()).filePath(u"unsent-"_s + window + u".json"_s))
{
}

QString UnsentDraftFile::restoreQuestion()
{
    return u"前回、送信されなかったメールがあります。開きますか？"_s;
}

QString UnsentDraftFile::openAnswer() { return u"開く"_s; }
QString UnsentDraftFile::laterAnswer() { return u"あとで"_s; }
QString UnsentDraftFile::discardAnswer() { return u"破棄"_s; }

QList<UnsentDraftFile> UnsentDraftFile::putOff(const DataRoot &root, const QString &window)
{
    const QDir folder(root.dataFolder());
    // The names carry the time they were put off: their order is the name order.
    const QStringList names = folder.entryList({u"unsent-"_s + window + u"-later-*.json"_s}, QDir::Files, QDir::Name);
    QList<UnsentDraftFile> files;
    for (const QString &name : names)
        files.append(UnsentDraftFile(folder.path(), folder.filePath(name)));
    return files;
}

bool UnsentDraftFile::putOffForLater(Error *err) const
{
    DataFolderLock lock(m_folder, u"書きかけのメールの保存"_s);
    if (!lock.take(err))
        return false;
    const QString stem = m_path.chopped(int(qstrlen(".json"))) + u"-later-"_s
        + QDateTime::currentDateTimeUtc().toString(u"yyyyMMddHHmmsszzz"_s);
    QString target = stem + u".json"_s;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = stem + u'-' + QString::number(n) + u".json"_s;
    if (!QFile::rename(m_path, target))
        return fail(err, u"書きかけのメールをあとで開けるように残せません。"_s, m_path + u" → "_s + target);
    return true;
}

bool UnsentDraftFile::save(const MailDraft &draft, Error *err, bool *busy) const
{
    constexpr int LockWaitMs = 200; // the window waits while it saves
    const QByteArray bytes = QJsonDocument(draft.toJson()).toJson();
    DataFolderLock lock(m_folder, u"書きかけのメールの保存"_s);
    if (!lock.take(err, LockWaitMs)) {
        if (busy)
            *busy = lock.wasBusy();
        return false;
    }
    QSaveFile file(m_path);
    const bool existed = QFileInfo::exists(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(err, u"書きかけのメールを保存できません。"_s, m_path + u": "_s + file.errorString());
    if (!fileio::makePrivateIfNew(file, existed, err))
        return false;
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, u"書きかけのメールを保存できません。"_s, m_path + u": "_s + file.errorString());
    return true;
}

bool UnsentDraftFile::load(MailDraft *draft, Error *err) const
{
    QFile file(m_path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return fail(err, u"書きかけのメールを読み込めません。"_s, m_path + u": "_s + file.errorString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject())
        return fail(err, u"書きかけのメールを読み込めません。"_s, m_path + u": "_s + parseError.errorString());
    *draft = MailDraft::fromJson(document.object());
    return true;
}

bool UnsentDraftFile::exists() const
{
    return QFile::exists(m_path);
}

bool UnsentDraftFile::remove(Error *err) const
{
    QFile file(m_path);
    if (!file.exists() || file.remove())
        return true;
    return fail(err, u"書きかけのメールを消せません。"_s, m_path + u": "_s + file.errorString());
}

} // namespace hollin
