#include "HeldMailExtras.h"

#include "storage/FileIo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool hasExtras(const MailDraft &mail)
{
    return !mail.attachments.isEmpty() || !mail.cc.isEmpty() || !mail.bcc.isEmpty() || mail.wholeBook
        || !mail.inReplyTo.isEmpty() || !mail.references.isEmpty();
}

QString readError()
{
    return u"保留メールの添付ファイル、Cc・Bcc、一括送信の指定の一覧を読み込めません。"
           u"保留メールはそれらなしで開きます。"_s;
}
QString writeError()
{
    return u"保留したメールの添付ファイル、Cc・Bcc、一括送信の指定を保存できませんでした"
           u"（メールそのものは保留しました）。"_s;
}

} // namespace

HeldMailExtras::HeldMailExtras(const QString &heldMailFile)
    : m_path(QFileInfo(heldMailFile).dir().filePath(u"held-mail-extras.json"_s))
{
}

QString HeldMailExtras::digest(const MailDraft &stored)
{
    const QString text = stored.to + u'\0' + stored.subject + u'\0' + stored.body;
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex());
}

bool HeldMailExtras::read(QJsonArray *entries, Error *err) const
{
    *entries = QJsonArray();
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return fail(err, readError(), m_path + u": "_s + file.errorString());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isArray())
        return fail(err, readError(), m_path + u": "_s + parseError.errorString());
    *entries = document.array();
    return true;
}

bool HeldMailExtras::write(const QJsonArray &entries, Error *err) const
{
    const QByteArray bytes = QJsonDocument(entries).toJson();
    QSaveFile file(m_path);
    const bool existed = QFileInfo::exists(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(err, writeError(), m_path + u": "_s + file.errorString());
    if (!fileio::makePrivateIfNew(file, existed, err))
        return false;
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, writeError(), m_path + u": "_s + file.errorString());
    return true;
}

bool HeldMailExtras::put(int n, const MailDraft &stored, const MailDraft &wanted, Error *err)
{
    QJsonArray entries;
    Error damage;
    if (!read(&entries, &damage)) {
        const QString aside = m_path + u".damaged"_s;
        QFile::remove(aside);
        if (!QFile::rename(m_path, aside))
            return fail(err, damage.text());
        damage = Error();
        fail(&damage, u"保留メールの添付ファイル、Cc・Bcc、一括送信の指定の一覧が壊れていたため、新しく作りました。"
                      u"それまでに保留したメールの添付ファイル、Cc・Bcc、一括送信の指定は戻せません"
                      u"（壊れた一覧は %1 に残しました）。"_s.arg(aside));
    }
    QJsonArray kept;
    for (const QJsonValue &entry : std::as_const(entries))
        if (entry.toObject().value(u"record"_s).toInt() < n)
            kept.append(entry);
    if (hasExtras(wanted)) {
        QJsonObject entry = wanted.toJson();
        entry.remove(u"to"_s);
        entry.remove(u"subject"_s);
        entry.remove(u"body"_s);
        entry.insert(u"record"_s, n);
        entry.insert(u"digest"_s, digest(stored));
        kept.append(entry);
    }
    if (kept.isEmpty() && entries.isEmpty() && !QFileInfo::exists(m_path)) {
        if (damage.isSet() && err)
            *err = damage;
        return true;
    }
    if (!write(kept, err))
        return false;
    if (damage.isSet() && err)
        *err = damage;
    return true;
}

bool HeldMailExtras::drop(int n, const MailDraft &stored, Error *err)
{
    QJsonArray entries;
    if (!read(&entries, err))
        return false;
    if (entries.isEmpty())
        return true;
    const QString removed = digest(stored);
    QJsonArray kept;
    for (const QJsonValue &value : std::as_const(entries)) {
        QJsonObject entry = value.toObject();
        const int record = entry.value(u"record"_s).toInt();
        if (record == n && entry.value(u"digest"_s).toString() == removed)
            continue;
        if (record > n)
            entry.insert(u"record"_s, record - 1);
        kept.append(entry);
    }
    return write(kept, err);
}

bool HeldMailExtras::get(int n, MailDraft *mail, Error *err) const
{
    QJsonArray entries;
    if (!read(&entries, err))
        return false;
    const QString wanted = digest(*mail);
    QJsonObject found;
    for (const QJsonValue &value : std::as_const(entries)) {
        const QJsonObject entry = value.toObject();
        if (entry.value(u"record"_s).toInt() == n && entry.value(u"digest"_s).toString() == wanted)
            found = entry;
    }
    MailDraft extras = MailDraft::fromJson(found);
    extras.to = mail->to;
    extras.subject = mail->subject;
    extras.body = mail->body;
    *mail = extras;
    return true;
}

} // namespace hollin
