#include "UidlList.h"

#include "storage/MailRecordFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Every received record is hashed: OpenSSL's SHA-1 uses the processor's SHA
// instructions, several times faster than Qt's on 32 KB records. Should OpenSSL
// refuse (a FIPS-only setup), Qt computes the same digest.
QByteArray sha1Hex(const QByteArray &bytes)
{
    static EVP_MD *const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!sha1 || !EVP_Digest(bytes.constData(), size_t(bytes.size()), digest, &size, sha1, nullptr))
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex(); // same digest, slower
    return QByteArray(reinterpret_cast<const char *>(digest), int(size)).toHex();
}

QString listError()
{
    return u"受信済みメールの一覧（UIDL）を保存できませんでした。"_s;
}

} // namespace

UidlList::UidlList(const QString &path, const QString &recordFile) : m_path(path), m_recordFile(recordFile) {}

bool UidlList::isUsableId(const QString &uid)
{
    if (uid.isEmpty() || uid.size() > 70)
        return false;
    for (const QChar c : uid) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

bool UidlList::load(Error *err)
{
    m_stored.clear();
    m_pending.clear();
    m_append.reset();
    // Temporary files of rewrites that a kill cut short.
    const QFileInfo list(m_path);
    for (const QFileInfo &temp : list.dir().entryInfoList({list.fileName() + u".??????"_s}, QDir::Files | QDir::Hidden))
        QFile::remove(temp.filePath());
    QByteArray bytes;
    if (!fileio::readWhole(m_path, &bytes, nullptr, err))
        return false;
    bool hadPending = false;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; start = end + 1, end = bytes.indexOf('\n', start)) {
        const QList<QByteArray> f = bytes.mid(start, end - start).split(' ');
        const QString uid = QString::fromLatin1(f.value(0));
        bool timeOk = false;
        const qint64 time = f.value(1).toLongLong(&timeOk);
        if (!timeOk || !isUsableId(uid))
            continue;
        if (f.size() == 2) {
            m_stored.insert(uid, time);
        } else if (f.size() == 4) {
            hadPending = true;
            bool numberOk = false;
            const int recordNumber = f[2].toInt(&numberOk);
            if (numberOk && recordMatches(recordNumber, f[3]))
                m_pending.insert(uid, time);
        }
    }
    if (!hadPending)
        return true;
    // A killed receive wrote these records but may not have flushed them.
    if (!m_pending.isEmpty()) {
        fileio::Fd records(::open(fileio::nativePath(m_recordFile).constData(), O_RDONLY | O_CLOEXEC));
        if (!records.isOpen() || !fileio::flush(records.get(), m_recordFile, err))
            return fail(err, listError(), m_recordFile);
    }
    return commit(err);
}

bool UidlList::recordMatches(int recordNumber, const QByteArray &sha1) const
{
    if (recordNumber < 1)
        return false;
    fileio::Fd records(::open(fileio::nativePath(m_recordFile).constData(), O_RDONLY | O_CLOEXEC));
    if (!records.isOpen())
        return false;
    QByteArray bytes(MailRecordFile::RecordSize, Qt::Uninitialized);
    const ssize_t n = ::pread(records.get(), bytes.data(), size_t(bytes.size()),
                              off_t(recordNumber - 1) * MailRecordFile::RecordSize);
    return n == bytes.size() && sha1Hex(bytes) == sha1;
}

bool UidlList::addPending(const QString &uid, int recordNumber, const QByteArray &recordBytes, Error *err)
{
    if (!m_append.isOpen()) {
        m_append = fileio::Fd(::open(fileio::nativePath(m_path).constData(),
                                     O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!m_append.isOpen())
            return fail(err, listError(), m_path + u": "_s + fileio::errnoText(errno));
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QByteArray line = uid.toLatin1() + ' ' + QByteArray::number(now) + ' ' + QByteArray::number(recordNumber)
        + ' ' + sha1Hex(recordBytes) + '\n';
    // One write: a kill leaves the whole line or a line without its LF.
    const ssize_t n = ::write(m_append.get(), line.constData(), size_t(line.size()));
    if (n != line.size())
        return fail(err, listError(), m_path + u": "_s + fileio::errnoText(n < 0 ? errno : ENOSPC));
    m_pending.insert(uid, now);
    return true;
}

bool UidlList::commit(Error *err)
{
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (!m_stored.contains(it.key()))
            m_stored.insert(it.key(), it.value());
    }
    m_pending.clear();
    return rewrite(err);
}

bool UidlList::prune(const QSet<QString> &onServer, Error *err)
{
    const qsizetype before = m_stored.size();
    m_stored.removeIf([&](const QHash<QString, qint64>::iterator &it) { return !onServer.contains(it.key()); });
    return m_stored.size() == before || rewrite(err);
}

bool UidlList::rewrite(Error *err)
{
    QByteArray bytes;
    for (auto it = m_stored.cbegin(); it != m_stored.cend(); ++it)
        bytes += it.key().toLatin1() + ' ' + QByteArray::number(it.value()) + '\n';
    m_append.reset(); // the next pending line goes to the new file
    Error why;
    if (!fileio::writeWholeAtomically(m_path, bytes, -1, &why))
        return fail(err, listError(), why.text());
    return true;
}

} // namespace hollin
