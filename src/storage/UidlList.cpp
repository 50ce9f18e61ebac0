#include "UidlList.h"

#include "MailRecordFile.h"
#include "StorageNotice.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
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

bool recordMatches(int fd, int recordNumber, const QByteArray &sha1)
{
    if (fd < 0 || recordNumber < 1)
        return false;
    QByteArray bytes(MailRecordFile::RecordSize, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, bytes.data(), size_t(bytes.size()),
                              off_t(recordNumber - 1) * MailRecordFile::RecordSize);
    return n == bytes.size() && sha1Hex(bytes) == sha1;
}

} // namespace

UidlList::UidlList(const QString &path, const QString &recordFile, const QString &account)
    : m_path(path), m_recordFile(recordFile), m_account(account.toLatin1())
{
}

QString UidlList::accountKey(const QString &server, const QString &id)
{
    const QByteArray both = server.trimmed().toLower().toUtf8() + '\n' + id.toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(both, QCryptographicHash::Sha1).toHex().left(16));
}

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

bool UidlList::settle(const QString &path, const QString &recordFile, Error *err)
{
    if (!QFileInfo::exists(path))
        return true;
    UidlList list(path, recordFile, QString());
    if (!list.load(err))
        return false;
    if (list.unreadableLines() > 0)
        storagenotice::tell(u"「%1」の %2 行が壊れていて読めませんでした。その行は「%3」に移して残しました。"_s
                                .arg(path)
                                .arg(list.unreadableLines())
                                .arg(QFileInfo(list.keptAside()).fileName()));
    return true;
}

namespace {

// One line of the list, split into its fields.
struct ListLine {
    enum Kind { Stored, Failing, Pending, Unreadable } kind = Unreadable;
    QList<QByteArray> fields;
    QString uid;
    QByteArray account; // empty on lines of earlier versions
    qint64 value = 0;   // first stored, or failed fetches
};

ListLine parseLine(const QByteArray &text)
{
    ListLine line;
    line.fields = text.split(' ');
    const QList<QByteArray> &f = line.fields;
    line.uid = QString::fromLatin1(f.value(0));
    const bool failing = f.size() == 3 && f[1].startsWith('F');
    bool numberOk = false;
    line.value = (failing ? f.value(1).mid(1) : f.value(1)).toLongLong(&numberOk);
    if (!UidlList::isUsableId(line.uid) || f.size() < 2 || f.size() > 6 || !numberOk)
        return line;
    line.account = f.size() == 3 || f.size() >= 5 ? f[2] : QByteArray();
    line.kind = f.size() >= 4 ? ListLine::Pending : failing ? ListLine::Failing : ListLine::Stored;
    return line;
}

// Each line with its LF; a last line without one was cut by a kill.
QList<QByteArray> wholeLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; start = end + 1, end = bytes.indexOf('\n', start))
        lines.append(bytes.mid(start, end - start));
    return lines;
}

} // namespace

bool UidlList::load(Error *err)
{
    m_stored.clear();
    m_pending.clear();
    m_failures.clear();
    m_otherAccounts.clear();
    m_forgotten.clear();
    m_unreadable = 0;
    m_keptAside.clear();
    m_append.reset();
    QByteArray bytes;
    if (!fileio::removeStaleTemporaries(m_path, err) || !fileio::readWhole(m_path, &bytes, nullptr, err))
        return false;
    // A line cut by a kill must not swallow the next appended one.
    bool mustRewrite = !bytes.isEmpty() && !bytes.endsWith('\n');
    bool settledAny = false;
    fileio::Fd records;
    QByteArray unreadable;
    for (const QByteArray &text : wholeLines(bytes)) {
        ListLine line = parseLine(text);
        if (line.kind == ListLine::Unreadable) {
            ++m_unreadable;
            unreadable += text + '\n';
            mustRewrite = true;
            continue;
        }
        QList<QByteArray> &f = line.fields;
        QByteArray account = line.account;
        if (line.kind == ListLine::Pending) { // stored when its record was written
            mustRewrite = true;
            const QList<QByteArray> where = f.size() == 4 ? f.mid(2) : f.mid(3, 2);
            if (!records.isOpen())
                records = fileio::Fd(::open(fileio::nativePath(m_recordFile).constData(), O_RDONLY | O_CLOEXEC));
            if (!recordMatches(records.get(), where[0].toInt(), where[1])) {
                removeNotedFiles(f.value(5));
                continue;
            }
            settledAny = true;
            f = {f[0], f[1]};
            if (!account.isEmpty())
                f.append(account);
            line.kind = ListLine::Stored;
        }
        if (account.isEmpty() && !m_account.isEmpty()) {
            mustRewrite = true;
            account = m_account;
        }
        if (account != m_account || m_account.isEmpty()) {
            m_otherAccounts.append(f.join(' '));
        } else if (line.kind == ListLine::Failing) {
            m_failures.insert(line.uid, int(line.value));
        } else if (!m_stored.contains(line.uid)) {
            m_stored.insert(line.uid, line.value);
        }
    }
    // A killed receive wrote these records but may not have flushed them.
    if (settledAny && !fileio::flush(records.get(), m_recordFile, err))
        return fail(err, listError(), m_recordFile);
    // Damaged lines are kept aside, not dropped with the rewrite: they may
    // name mail that is on the server and stored.
    if (!unreadable.isEmpty()
        && !fileio::writeNewFile(m_path + u".damaged-"_s + fileio::timeStamp(), unreadable, &m_keptAside, err))
        return false;
    return !mustRewrite || rewrite(err);
}

bool UidlList::takeInOtherWrites(Error *err)
{
    QByteArray bytes;
    if (!fileio::readWhole(m_path, &bytes, nullptr, err))
        return false;
    QList<QByteArray> others;
    QSet<QByteArray> pendingLines;
    QHash<QString, qint64> stored;
    for (const QByteArray &text : wholeLines(bytes)) {
        const ListLine line = parseLine(text);
        const bool mine = !m_account.isEmpty() && line.account == m_account;
        if (line.kind == ListLine::Pending)
            pendingLines.insert(text + '\n');
        else if (line.kind == ListLine::Unreadable)
            continue; // a load keeps these aside; this list is rewritten from what it knows
        else if (!mine)
            others.append(text);
        else if (line.kind == ListLine::Stored && !m_forgotten.contains(line.uid))
            stored.insert(line.uid, line.value);
    }
    // Stored by another writer since the load (an import between two holds).
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        if (!m_stored.contains(it.key()))
            m_stored.insert(it.key(), it.value());
    }
    // A pending line of this list that a compaction or another load settled
    // is stored now: written back as it was, it would name a record number
    // that a compaction changed.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->line.isEmpty() || pendingLines.remove(it->line)) {
            ++it;
        } else {
            if (stored.contains(it.key()))
                m_stored.insert(it.key(), stored.value(it.key()));
            it = m_pending.erase(it);
        }
    }
    // Pending lines of other writers stay for the next load to settle.
    for (const QByteArray &line : std::as_const(pendingLines))
        others.append(line.chopped(1));
    m_otherAccounts = others;
    return true;
}

UidlList::NotedFile UidlList::notedFile(const QString &path)
{
    struct stat st;
    if (::lstat(fileio::nativePath(path).constData(), &st) != 0)
        return {};
    return {path, fileio::identityOf(st)};
}

void UidlList::removeNotedFiles(const QByteArray &field)
{
    for (const QByteArray &entry : field.split(',')) {
        const qsizetype colon = entry.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray path = QByteArray::fromHex(entry.mid(colon + 1));
        struct stat st;
        // Only the file that was noted: a name (or an inode) reused since is left alone.
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && fileio::identityOf(st) == entry.left(colon))
            ::unlink(path.constData());
    }
}

bool UidlList::openForAppend(Error *err)
{
    // A compaction may have settled and rewritten the list since it was opened.
    struct stat opened, named;
    if (m_append.isOpen() && ::fstat(m_append.get(), &opened) == 0
        && ::stat(fileio::nativePath(m_path).constData(), &named) == 0 && opened.st_ino == named.st_ino
        && opened.st_dev == named.st_dev)
        return true;
    m_created = ::stat(fileio::nativePath(m_path).constData(), &named) != 0;
    m_append = fileio::Fd(::open(fileio::nativePath(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, fileio::PrivateFileMode));
    if (!m_append.isOpen())
        return fail(err, listError(), m_path + u": "_s + fileio::errnoText(errno));
    return true;
}

bool UidlList::addPending(const QString &uid, int recordNumber, const QByteArray &recordBytes, Error *err,
                          const QList<NotedFile> &files)
{
    if (!openForAppend(err))
        return false;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QByteArray line = uid.toLatin1() + ' ' + QByteArray::number(now) + ' ' + m_account + ' '
        + QByteArray::number(recordNumber) + ' ' + sha1Hex(recordBytes);
    QList<QByteArray> entries;
    for (const NotedFile &file : files) {
        if (!file.path.isEmpty())
            entries.append(file.identity + ':' + fileio::nativePath(file.path).toHex());
    }
    if (!entries.isEmpty())
        line += ' ' + entries.join(',');
    line += '\n';
    // One write: a kill leaves the whole line or a line without its LF.
    const ssize_t n = ::write(m_append.get(), line.constData(), size_t(line.size()));
    if (n != line.size()) {
        m_append.reset(); // a part of the line may stand: the next load rewrites the list
        return fail(err, listError(), m_path + u": "_s + fileio::errnoText(n < 0 ? errno : ENOSPC));
    }
    m_pending.insert(uid, {now, line});
    return true;
}

void UidlList::markStored(const QString &uid)
{
    if (!m_stored.contains(uid))
        m_pending.insert(uid, {QDateTime::currentSecsSinceEpoch(), {}});
}

bool UidlList::noteFailure(const QString &uid, Error *err)
{
    ++m_failures[uid];
    return takeInOtherWrites(err) && rewrite(err);
}

bool UidlList::flushPending(Error *err)
{
    // Without an open descriptor nothing was appended since the last
    // rewrite, which is durable; the folder only when the list is new.
    if (!m_append.isOpen())
        return true;
    if (!fileio::flush(m_append.get(), m_path, err) || (m_created && !fileio::flushFolderOf(m_path, err)))
        return false;
    m_created = false;
    return true;
}

bool UidlList::commit(Error *err)
{
    if (!takeInOtherWrites(err))
        return false;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (!m_stored.contains(it.key()))
            m_stored.insert(it.key(), it->time);
        m_failures.remove(it.key());
    }
    m_pending.clear();
    return rewrite(err);
}

bool UidlList::prune(const QSet<QString> &onServer, Error *err)
{
    const qsizetype before = m_stored.size() + m_failures.size();
    for (auto it = m_stored.cbegin(); it != m_stored.cend(); ++it) {
        if (!onServer.contains(it.key()))
            m_forgotten.insert(it.key());
    }
    m_stored.removeIf([&](const QHash<QString, qint64>::iterator &it) { return !onServer.contains(it.key()); });
    m_failures.removeIf([&](const QHash<QString, int>::iterator &it) { return !onServer.contains(it.key()); });
    return m_stored.size() + m_failures.size() == before || (takeInOtherWrites(err) && rewrite(err));
}

bool UidlList::rewrite(Error *err)
{
    if (m_account == QStringView(StoredMessages).toLatin1() && m_stored.size() > StoredMessagesKept) {
        QList<qint64> times = m_stored.values();
        std::nth_element(times.begin(), times.end() - StoredMessagesKept, times.end());
        const qint64 oldestKept = *(times.end() - StoredMessagesKept);
        m_stored.removeIf([&](const QHash<QString, qint64>::iterator &it) { return it.value() < oldestKept; });
    }
    QByteArray bytes;
    for (const QByteArray &line : std::as_const(m_otherAccounts))
        bytes += line + '\n';
    for (auto it = m_stored.cbegin(); it != m_stored.cend(); ++it)
        bytes += it.key().toLatin1() + ' ' + QByteArray::number(it.value()) + ' ' + m_account + '\n';
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it)
        bytes += it.key().toLatin1() + " F" + QByteArray::number(it.value()) + ' ' + m_account + '\n';
    // Records written but not yet flushed: still pending, settled by the next load.
    for (const Pending &pending : std::as_const(m_pending))
        bytes += pending.line;
    m_append.reset(); // the next pending line goes to the new file
    Error why;
    if (!fileio::writeWholeAtomically(m_path, bytes, -1, &why))
        return fail(err, listError(), why.text());
    return true;
}

} // namespace hollin
