#include "SentMailFile.h"

#include "DataFolderLock.h"
#include "FileIo.h"
#include "StorageNotice.h"

#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr QByteArrayView Mark = "HOLLIN-SENT ";
constexpr qint64 LongestHeadLine = 64;

} // namespace

SentMailFile::SentMailFile(const QString &path)
    : m_path(path)
{
}

QString SentMailFile::pathIn(const QString &dataFolder)
{
    return dataFolder + u"/hlmsent.txt"_s;
}

bool SentMailFile::scan(int fd, QList<Entry> *out, qint64 *end, Rest *rest, Error *err) const
{
    const qint64 size = fileio::sizeOf(fd, m_path, err);
    if (size < 0)
        return false;
    qint64 at = 0;
    *rest = Rest::None;
    while (at < size) {
        QByteArray head(int(std::min(LongestHeadLine, size - at)), Qt::Uninitialized);
        if (!fileio::readAt(fd, head.data(), head.size(), at, m_path, err))
            return false;
        const qsizetype lf = head.indexOf('\n');
        // A kill while appending leaves a beginning of a copy: a part of
        // its head line, or a whole head line and a part of the mail.
        const bool headCut = lf < 0 && at + head.size() == size
            && (head.startsWith(Mark) || Mark.startsWith(head));
        *rest = headCut ? Rest::Torn : Rest::Damaged;
        if (lf < 0 || !head.startsWith(Mark))
            break;
        const QList<QByteArray> fields = head.mid(Mark.size(), lf - Mark.size()).split(' ');
        bool timeOk = false, sizeOk = false;
        Entry entry;
        if (fields.size() == 2) {
            entry.sentAt = fields[0].toLongLong(&timeOk);
            entry.size = fields[1].toLongLong(&sizeOk);
        }
        entry.offset = at + lf + 1;
        if (!timeOk || !sizeOk || entry.size < 0)
            break;
        if (entry.offset + entry.size + 1 > size) {
            // Cut by the end of the file, unless another copy follows: then
            // its size was damaged instead.
            QByteArray after(size - entry.offset, Qt::Uninitialized);
            if (!fileio::readAt(fd, after.data(), after.size(), entry.offset, m_path, err))
                return false;
            *rest = after.contains('\n' + Mark.toByteArray()) ? Rest::Damaged : Rest::Torn;
            break;
        }
        char last = 0;
        if (!fileio::readAt(fd, &last, 1, entry.offset + entry.size, m_path, err))
            return false;
        if (last != '\n')
            break;
        if (out)
            out->append(entry);
        at = entry.offset + entry.size + 1;
        *rest = Rest::None;
    }
    *end = at;
    return true;
}

bool SentMailFile::append(const QByteArray &message, qint64 sentAt, Error *err)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    DataFolderLock lock(folder, u"送信済みメールの保存"_s);
    if (!fileio::makeFolders(folder, err) || !lock.take(err))
        return false;
    fileio::Fd fd = fileio::openOrCreate(m_path, true, err);
    if (!fd.isOpen())
        return false;
    qint64 end = 0;
    Rest rest = Rest::None;
    if (!scan(fd.get(), nullptr, &end, &rest, err))
        return false;
    // A copy cut short by a kill is written over; what cannot be read
    // otherwise (a copy changed since, say by a line-end conversion) is
    // kept aside whole, with every copy after it.
    if (rest == Rest::Damaged && !setAsideFrom(fd.get(), end, err))
        return false;
    if (::ftruncate(fd.get(), end) != 0)
        return fail(err, u"ファイル「%1」の途中までの書き込みを取り除けません。"_s.arg(m_path), fileio::errnoText(errno));
    const QByteArray bytes = Mark.toByteArray() + QByteArray::number(sentAt) + ' '
        + QByteArray::number(message.size()) + '\n' + message + '\n';
    if (!fileio::writeAt(fd.get(), bytes.constData(), bytes.size(), end, m_path, err)
        || !fileio::flush(fd.get(), m_path, err)) {
        (void)::ftruncate(fd.get(), end); // the copy is not listed either way; the error told is the write's
        return false;
    }
    return true;
}

bool SentMailFile::setAsideFrom(int fd, qint64 from, Error *err) const
{
    const qint64 size = fileio::sizeOf(fd, m_path, err);
    if (size < 0)
        return false;
    QByteArray bytes(size - from, Qt::Uninitialized);
    QString kept;
    if (!fileio::readAt(fd, bytes.data(), bytes.size(), from, m_path, err)
        || !fileio::writeNewFile(m_path + u".damaged-"_s + fileio::timeStamp(), bytes, &kept, err))
        return false;
    storagenotice::tell(u"送信済みメールのファイル「%1」の %2 バイト目から先が読めませんでした（%3 バイト）。"
                        u"その部分を「%4」に移して残しました。"_s
                            .arg(m_path)
                            .arg(from + 1)
                            .arg(bytes.size())
                            .arg(QFileInfo(kept).fileName()));
    return true;
}

bool SentMailFile::list(QList<Entry> *out, Error *err) const
{
    out->clear();
    bool missing = false;
    fileio::Fd fd = fileio::openForReading(m_path, &missing, err);
    if (missing)
        return true;
    qint64 end = 0;
    Rest rest = Rest::None;
    return fd.isOpen() && scan(fd.get(), out, &end, &rest, err);
}

bool SentMailFile::read(const Entry &entry, QByteArray *out, Error *err) const
{
    bool missing = false;
    fileio::Fd fd = fileio::openForReading(m_path, &missing, err);
    if (missing)
        return fail(err, u"送信済みメールのファイル「%1」がありません。"_s.arg(m_path));
    if (!fd.isOpen())
        return false;
    out->resize(entry.size);
    return fileio::readAt(fd.get(), out->data(), entry.size, entry.offset, m_path, err);
}

} // namespace hollin
