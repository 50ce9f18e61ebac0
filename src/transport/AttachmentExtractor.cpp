#include "transport/AttachmentExtractor.h"

#include "transport/MimeHeader.h"
#include "transport/MimeParams.h"
#include "transport/MimeTree.h"
#include "transport/SafeFileName.h"

#include "transport/MimeGlib.h"

#include "storage/FileIo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <map>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Where fragments of split messages wait, inside the attachment folder.
const QString kPartialFolder = u".partial"_s;
// More fragments than this are not a real split message.
constexpr int kMaxFragments = 1000;

QString cannotCreate()
{
    return u"添付ファイルを作成できません"_s;
}

QByteArray serialise(GMimeObject *object)
{
    GMimeStream *stream = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(object, nullptr, stream);
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray bytes(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
    g_object_unref(stream);
    return bytes;
}

QString fileNameOf(GMimeObject *object)
{
    const QString japanese = MimeParams::japaneseFileName(mime::rawHeader(object, "Content-Disposition"),
                                                          mime::rawHeader(object, "Content-Type"));
    if (!japanese.isNull())
        return japanese;
    const char *name = GMIME_IS_PART(object)
        ? g_mime_part_get_filename(GMIME_PART(object))
        : g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!name || !*name)
        name = g_mime_object_get_content_type_parameter(object, "name");
    return name ? QString::fromUtf8(name) : QString();
}

QString suffixFor(GMimeObject *object)
{
    GMimeContentType *ct = g_mime_object_get_content_type(object);
    if (!ct)
        return {};
    char *type = g_mime_content_type_get_mime_type(ct);
    const QString suffix = QMimeDatabase().mimeTypeForName(QString::fromUtf8(type)).preferredSuffix();
    g_free(type);
    return suffix.isEmpty() ? QString() : u'.' + suffix;
}

struct Output {
    QString folder;
    QStringList *written;
    Error *err;
};

bool isTaken(const QDir &dir, const QString &name)
{
    if (name == kPartialFolder)
        return true; // reserved for fragments of split messages
    const QFileInfo info(dir.filePath(name));
    return info.exists() || info.isSymLink();
}

// A number n for which numbered(wanted, n) is free, without an upper limit
// and without trying every number: doubling finds a free number, halving
// then the first free one after the taken run.
int freeNumber(const QDir &dir, const QString &wanted)
{
    auto taken = [&](int n) { return isTaken(dir, SafeFileName::numbered(wanted, n)); };
    if (!taken(1))
        return 1;
    int low = 1, high = 2; // taken(low), high not yet known
    while (taken(high)) {
        if (high > std::numeric_limits<int>::max() / 2)
            return -1;
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        (taken(mid) ? low : high) = mid;
    }
    return high;
}

// Writes bytes under a fresh name in the folder. False (and err) when the
// file cannot be created.
bool writeUnique(const Output &out, const QString &wanted, const QByteArray &bytes)
{
    const QDir dir(out.folder);
    // The wanted name is mostly free: it is tried at once, and the numbers
    // searched only once it turns out taken.
    bool tryWanted = wanted != kPartialFolder;
    for (;;) {
        const int n = tryWanted ? 1 : freeNumber(dir, wanted);
        tryWanted = false;
        if (n < 0)
            return fail(out.err, cannotCreate(), dir.filePath(wanted) + u": too many files of that name"_s);
        const QString name = SafeFileName::numbered(wanted, n);
        const QString path = dir.filePath(name);
        // O_EXCL: never replaces a file, never follows a link.
        fileio::Fd fd(::open(fileio::nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.isOpen()) {
            if (errno == EEXIST)
                continue; // taken, or appeared meanwhile
            return fail(out.err, cannotCreate(), path + u": "_s + fileio::errnoText(errno));
        }
        Error why;
        const bool written = fileio::writeAt(fd.get(), bytes.constData(), bytes.size(), 0, path, &why);
        // Starts the disk on it: the caller's one flush of the folder (before
        // the mail is stored) then finds it mostly written.
        if (written)
            ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        if (::close(fd.release()) != 0 && written)
            fail(&why, path + u": "_s + fileio::errnoText(errno));
        if (why.isSet()) {
            QFile::remove(path);
            return fail(out.err, cannotCreate(), why.text());
        }
        out.written->append(name);
        return true;
    }
}

// Writes every attachment of a message. Returns the number written, or -1.
int writeAttachments(GMimeMessage *message, const Output &out)
{
    GMimePart *body = mime::bodyPart(message);
    int count = 0;
    for (GMimeObject *object : mime::leaves(message)) {
        if (object == GMIME_OBJECT(body) || GMIME_IS_MESSAGE_PARTIAL(object))
            continue;
        QString name = fileNameOf(object);
        QByteArray bytes;
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (!inner)
                continue;
            bytes = serialise(GMIME_OBJECT(inner));
            if (name.isEmpty())
                name = MimeHeader::decode(mime::rawHeader(GMIME_OBJECT(inner), "Subject"));
            if (SafeFileName::make(name) == SafeFileName::fallback())
                name = SafeFileName::fallback();
            if (!name.endsWith(u".eml"_s, Qt::CaseInsensitive))
                name += u".eml"_s;
        } else if (GMIME_IS_PART(object)) {
            const bool wanted = mime::isAttachment(object)
                || !(mime::isType(object, "text", "*") || mime::isType(object, "message", "*"));
            if (!wanted)
                continue; // another form of the body (HTML beside plain text), a report
            if (SafeFileName::make(name) == SafeFileName::fallback())
                name = SafeFileName::fallback() + suffixFor(object);
            bytes = mime::content(GMIME_PART(object));
        } else {
            continue;
        }
        if (!writeUnique(out, SafeFileName::make(name), bytes))
            return -1;
        ++count;
    }
    return count;
}

GMimeMessagePartial *findPartial(GMimeMessage *message)
{
    for (GMimeObject *object : mime::leaves(message))
        if (GMIME_IS_MESSAGE_PARTIAL(object))
            return GMIME_MESSAGE_PARTIAL(object);
    return nullptr;
}

int resultOf(int count)
{
    if (count < 0)
        return AttachmentExtractor::CannotCreate;
    return count > 0 ? AttachmentExtractor::Written : AttachmentExtractor::NoAttachments;
}

int incomplete(Error *err, const QString &detail)
{
    fail(err, u"分割されたメールが全て揃っていません"_s, detail);
    return AttachmentExtractor::SplitIncomplete;
}

// Keeps a fragment; when it completes its set, writes the attachments of the
// reassembled message and removes the kept fragments.
int keepFragment(const QByteArray &raw, GMimeMessagePartial *partial, const Output &out)
{
    const char *idText = g_mime_message_partial_get_id(partial);
    const int number = g_mime_message_partial_get_number(partial);
    if (!idText || !*idText || number < 1 || number > kMaxFragments)
        return incomplete(out.err, u"message/partial without a usable id or number"_s);
    const QByteArray id(idText);
    // The id comes from the mail: only its hash names the folder.
    const QString key = QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex());
    const QString storePath = QDir(out.folder).filePath(kPartialFolder + u'/' + key);
    QDir store(storePath);
    if (!QFileInfo(out.folder).isDir() || !QDir().mkpath(storePath)) {
        fail(out.err, cannotCreate(), storePath);
        return AttachmentExtractor::CannotCreate;
    }
    QFile fragment(store.filePath(QString::number(number) + u".eml"_s));
    if (!fragment.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || fragment.write(raw) != raw.size() || !fragment.flush()) {
        fail(out.err, cannotCreate(), fragment.fileName() + u": "_s + fragment.errorString());
        return AttachmentExtractor::CannotCreate;
    }
    fragment.close();

    std::vector<std::unique_ptr<MimeMessage>> kept;
    std::map<int, GMimeMessagePartial *> parts;
    int total = 0;
    for (const QString &file : store.entryList({u"*.eml"_s}, QDir::Files)) {
        QFile in(store.filePath(file));
        if (!in.open(QIODevice::ReadOnly))
            continue;
        auto message = std::make_unique<MimeMessage>(in.readAll());
        if (!message->isValid())
            continue;
        GMimeMessagePartial *p = findPartial(message->get());
        const char *pid = p ? g_mime_message_partial_get_id(p) : nullptr;
        if (!pid || id != pid)
            continue;
        const int n = g_mime_message_partial_get_number(p);
        total = std::max(total, g_mime_message_partial_get_total(p));
        parts[n] = p;
        kept.push_back(std::move(message));
    }
    const QString progress = QString::fromLatin1(id) + u": "_s + QString::number(parts.size())
        + u" / "_s + (total > 0 ? QString::number(total) : u"?"_s);
    if (total < 1 || total > kMaxFragments)
        return incomplete(out.err, progress);
    std::vector<GMimeMessagePartial *> ordered;
    for (int n = 1; n <= total; ++n) {
        auto it = parts.find(n);
        if (it == parts.end())
            return incomplete(out.err, progress);
        ordered.push_back(it->second);
    }
    MimeMessage whole(g_mime_message_partial_reconstruct_message(ordered.data(), ordered.size()));
    if (!whole.isValid())
        return incomplete(out.err, progress);
    const int count = writeAttachments(whole.get(), out);
    if (count >= 0) {
        store.removeRecursively();
        QDir(out.folder).rmdir(kPartialFolder); // only when no other set waits
    }
    return resultOf(count);
}

} // namespace

int AttachmentExtractor::extract(const QByteArray &raw, const QString &folder, QStringList *written,
                                 Error *err)
{
    return extract(raw, MimeMessage(raw), folder, written, err);
}

int AttachmentExtractor::extract(const QByteArray &raw, const MimeMessage &message, const QString &folder,
                                 QStringList *written, Error *err)
{
    QStringList names;
    const Output out{folder, &names, err};
    int result = NoAttachments;
    if (message.isValid()) {
        if (GMimeMessagePartial *partial = findPartial(message.get()))
            result = keepFragment(raw, partial, out);
        else
            result = resultOf(writeAttachments(message.get(), out));
    }
    if (result == CannotCreate) {
        // The message is not stored: none of its files stays behind.
        for (const QString &name : std::as_const(names))
            QFile::remove(QDir(folder).filePath(name));
        names.clear();
    }
    if (written)
        *written = names;
    return result;
}

QString AttachmentExtractor::saveWholeMessage(const QByteArray &raw, const QString &folder, Error *err)
{
    QStringList names;
    const Output out{folder, &names, err};
    QString name;
    MimeMessage message(raw);
    if (message.isValid())
        name = SafeFileName::make(MimeHeader::decode(mime::rawHeader(GMIME_OBJECT(message.get()), "Subject")));
    if (name.isEmpty() || name == SafeFileName::fallback())
        name = u"メール"_s;
    if (!writeUnique(out, SafeFileName::make(name + u".eml"_s), raw))
        return {};
    return names.value(0);
}

} // namespace hollin
