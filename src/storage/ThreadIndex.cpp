#include "ThreadIndex.h"

#include "MailRecordFile.h"
#include "RecordFile.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int TextBytes = MailRecordFile::RecordSize - 4; // without CR LF and the live flag

// The "<id>" tokens of a raw field value, each once, in order.
QList<QByteArray> idsIn(const QByteArray &field)
{
    static const QRegularExpression id(u"<[!-;=?-~]+>"_s);
    QList<QByteArray> ids;
    for (auto it = id.globalMatch(QString::fromLatin1(field)); it.hasNext();) {
        const QByteArray one = it.next().captured().toLatin1();
        if (!ids.contains(one))
            ids.append(one);
    }
    return ids;
}

} // namespace

ThreadIndex::ThreadIndex(const QString &path)
    : m_path(path)
{
}

QString ThreadIndex::pathIn(const QString &dataFolder)
{
    return dataFolder + u"/hlmthread.txt"_s;
}

QString ThreadIndex::digest(const QByteArray &recordBytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(recordBytes.left(TextBytes), QCryptographicHash::Sha1).toHex());
}

bool ThreadIndex::digestOf(const QString &recordFile, int n, QString *out, Error *err)
{
    const RecordFile file(recordFile, QString(),
                          {MailRecordFile::RecordSize, MailRecordFile::RecordSize - 2, MailRecordFile::MaxRecords});
    QByteArray bytes;
    if (!file.read(n, 0, TextBytes, &bytes, err))
        return false;
    *out = digest(bytes);
    return true;
}

bool ThreadIndex::add(const QString &recordDigest, const QByteArray &messageIdField,
                      const QByteArray &referencesField, Error *err)
{
    const QList<QByteArray> id = idsIn(messageIdField);
    if (id.isEmpty())
        return true;
    if (!m_append.isOpen()) {
        m_append = fileio::openOrCreate(m_path, true, err);
        if (!m_append.isOpen())
            return false;
        const qint64 size = fileio::sizeOf(m_append.get(), m_path, err);
        char last = '\n';
        if (size < 0 || (size > 0 && !fileio::readAt(m_append.get(), &last, 1, size - 1, m_path, err))
            || (last != '\n' && !fileio::writeAt(m_append.get(), "\n", 1, size, m_path, err))) {
            m_append.reset();
            return false;
        }
    }
    QByteArray line = recordDigest.toLatin1() + ' ' + id.first();
    for (const QByteArray &ref : idsIn(referencesField))
        line += ' ' + ref;
    line += '\n';
    const qint64 end = fileio::sizeOf(m_append.get(), m_path, err);
    return end >= 0 && fileio::writeAt(m_append.get(), line.constData(), line.size(), end, m_path, err);
}

bool ThreadIndex::flush(Error *err)
{
    return !m_append.isOpen() || fileio::flush(m_append.get(), m_path, err);
}

bool ThreadIndex::find(const QString &recordDigest, Ids *out, Error *err) const
{
    *out = {};
    QByteArray text;
    bool missing = false;
    if (!fileio::readWhole(m_path, &text, &missing, err))
        return false;
    const QByteArray key = recordDigest.toLatin1() + ' ';
    const qsizetype complete = text.lastIndexOf('\n') + 1; // a line without its LF was cut short
    for (const QByteArray &line : text.left(complete).split('\n')) {
        if (!line.startsWith(key))
            continue;
        // Only well-formed ids go into a reply's header: a line changed since
        // it was written (a line-end conversion, a damaged disk) adds nothing else.
        const QList<QByteArray> ids = idsIn(line.mid(key.size()));
        if (ids.isEmpty() || !line.mid(key.size()).startsWith(ids.first()))
            continue;
        out->messageId = QString::fromLatin1(ids.first());
        out->references = QString::fromLatin1(ids.mid(1).join(' '));
    }
    return true;
}

} // namespace hollin
