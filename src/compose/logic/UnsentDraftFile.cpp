#include "UnsentDraftFile.h"

#include "storage/DataFolderLock.h"
#include "storage/FileIo.h"

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

bool UnsentDraftFile::save(const MailDraft &draft, Error *err, bool *busy) const
{
    constexpr int LockWaitMs = 200; // the window waits while it saves
    const QJsonObject object{{u"to"_s, draft.to}, {u"subject"_s, draft.subject},
                             {u"body"_s, draft.body}, {u"attachments"_s, draft.attachments}};
    const QByteArray bytes = QJsonDocument(object).toJson();
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
    const QJsonObject object = document.object();
    *draft = MailDraft{object.value(u"to"_s).toString(), object.value(u"subject"_s).toString(),
                       object.value(u"body"_s).toString(), object.value(u"attachments"_s).toString()};
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
