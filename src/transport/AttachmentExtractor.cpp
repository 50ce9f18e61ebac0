#include "transport/AttachmentExtractor.h"

#include "transport/FolderHandle.h"
#include "transport/MimeHeader.h"
#include "transport/MimeParams.h"
#include "transport/MimeTree.h"
#include "transport/SafeFileName.h"

#include "transport/MimeGlib.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QMimeDatabase>

#include <limits>
#include <map>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
    const FolderHandle *folder;
    const Error *openError; // why folder is not open
    QStringList *written;
    Error *err;
    std::vector<AttachmentExtractor::HeldFile> *held = nullptr; // attachments written without names
    QStringList *doneFragments = nullptr; // kept fragments of a completed set, removed by the caller
};

bool isTaken(const FolderHandle &folder, const QString &name)
{
    if (name == kPartialFolder)
        return true; // reserved for fragments of split messages
    return folder.exists(name);
}

// A number n for which numbered(wanted, n) is free, without an upper limit
// and without trying every number: doubling finds a free number, halving
// then the first free one after the taken run.
int freeNumber(const FolderHandle &folder, const QString &wanted)
{
    auto taken = [&](int n) { return isTaken(folder, SafeFileName::numbered(wanted, n)); };
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
    if (!out.folder->isOpen())
        return fail(out.err, cannotCreate(), out.openError->text());
    // The wanted name is mostly free: it is tried at once, and the numbers
    // searched only once it turns out taken.
    if (out.held) {
        AttachmentExtractor::HeldFile file{wanted, {}, {}};
        bool unsupported = false;
        Error why;
        struct stat st;
        if (out.folder->createUnnamed(bytes, &file.file, &unsupported, &why) && ::fstat(file.file.get(), &st) == 0) {
            file.identity = fileio::identityOf(st);
            out.held->push_back(std::move(file));
            return true;
        }
        if (!unsupported)
            return fail(out.err, cannotCreate(), why.text());
    }
    bool tryWanted = wanted != kPartialFolder;
    for (;;) {
        const int n = tryWanted ? 1 : freeNumber(*out.folder, wanted);
        tryWanted = false;
        if (n < 0)
            return fail(out.err, cannotCreate(), out.folder->pathOf(wanted) + u": too many files of that name"_s);
        const QString name = SafeFileName::numbered(wanted, n);
        bool taken = false;
        Error why;
        if (!out.folder->createFile(name, bytes, &taken, &why)) {
            if (taken)
                continue; // appeared meanwhile
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
// reassembled message and removes the kept fragments. The store is opened
// one folder at a time, never through a link.
int keepFragment(const QByteArray &raw, GMimeMessagePartial *partial, const Output &out)
{
    const char *idText = g_mime_message_partial_get_id(partial);
    const int number = g_mime_message_partial_get_number(partial);
    if (!idText || !*idText || number < 1 || number > kMaxFragments)
        return incomplete(out.err, u"message/partial without a usable id or number"_s);
    if (!out.folder->isOpen()) {
        fail(out.err, cannotCreate(), out.openError->text());
        return AttachmentExtractor::CannotCreate;
    }
    const QByteArray id(idText);
    // The id comes from the mail: only its hash names the folder.
    const QString key = QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex());
    Error why;
    const FolderHandle sets = out.folder->subfolder(kPartialFolder, true, &why);
    const FolderHandle store = sets.isOpen() ? sets.subfolder(key, true, &why) : FolderHandle();
    bool taken = false;
    // A fragment kept before under that number stays as it is.
    if (!store.isOpen()
        || (!store.createFile(QString::number(number) + u".eml"_s, raw, &taken, &why) && !taken)) {
        fail(out.err, cannotCreate(), why.text());
        return AttachmentExtractor::CannotCreate;
    }
    why = {};
    const QStringList files = store.entries(&why);
    if (why.isSet()) {
        fail(out.err, cannotCreate(), why.text());
        return AttachmentExtractor::CannotCreate;
    }

    std::vector<std::unique_ptr<MimeMessage>> kept;
    std::map<int, GMimeMessagePartial *> parts;
    QStringList used;
    int total = 0;
    for (const QString &file : files) {
        QByteArray bytes;
        if (!file.endsWith(u".eml"_s) || !store.readFile(file, &bytes, nullptr))
            continue;
        auto message = std::make_unique<MimeMessage>(bytes);
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
        used.append(file);
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
    if (count >= 0 && out.doneFragments) {
        // The caller removes them once the mail's record is durable: until
        // then they are all there is of the mail.
        for (const QString &file : std::as_const(used))
            out.doneFragments->append(store.pathOf(file));
    } else if (count >= 0) {
        // Only the fragments read above go; the folders only when empty.
        bool allRemoved = true;
        for (const QString &file : std::as_const(used))
            allRemoved = store.removeFile(file, nullptr) && allRemoved;
        if (allRemoved && sets.removeEmptyFolder(key))
            out.folder->removeEmptyFolder(kPartialFolder); // only when no other set waits
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
    return extractHeld(raw, message, folder, written, nullptr, err);
}

int AttachmentExtractor::extractHeld(const QByteArray &raw, const MimeMessage &message, const QString &folder,
                                     QStringList *written, std::vector<HeldFile> *held, Error *err,
                                     QStringList *doneFragments)
{
    QStringList names;
    Error openError;
    const FolderHandle handle = FolderHandle::open(folder, &openError);
    const Output out{&handle, &openError, &names, err, held, doneFragments};
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
            handle.removeFile(name, nullptr);
        names.clear();
        if (held)
            held->clear();
    }
    if (written)
        *written = names;
    return result;
}

namespace {

// A set whose mail is stored is first renamed to "<set>.done" (one step):
// what a failure or a kill leaves of it is then never taken for a set that
// still waits for fragments.
const QString DoneSuffix = u".done"_s;

// Removes every entry of a set's folder and the folder; false (and which stayed) otherwise.
bool removeSetFolder(const FolderHandle &sets, const QString &name, QStringList *left)
{
    const FolderHandle set = sets.subfolder(name, false, nullptr);
    Error why;
    for (const QString &file : set.entries(&why)) {
        if (!set.removeFile(file, &why))
            *left << why.text();
    }
    if (!set.isOpen() || !sets.removeEmptyFolder(name))
        *left << sets.pathOf(name);
    return left->isEmpty();
}

} // namespace

bool AttachmentExtractor::removeFragments(const QStringList &paths, Error *err)
{
    QSet<QString> setFolders;
    for (const QString &path : paths)
        setFolders.insert(QFileInfo(path).absolutePath());
    QStringList left;
    for (const QString &setFolder : std::as_const(setFolders)) {
        const QString name = QFileInfo(setFolder).fileName();
        const FolderHandle sets = FolderHandle::open(QFileInfo(setFolder).absolutePath(), nullptr);
        const QString done = name + DoneSuffix;
        Error why;
        if (!sets.isOpen() || !sets.renameEntry(name, done, &why)) {
            left << setFolder + u": "_s + why.text();
            continue;
        }
        removeSetFolder(sets, done, &left);
        // Only when empty: another set may still wait.
        FolderHandle::open(QFileInfo(sets.path()).absolutePath(), nullptr).removeEmptyFolder(kPartialFolder);
    }
    if (left.isEmpty())
        return true;
    return fail(err, u"分割されたメールの断片を消せませんでした（メールは保存しました）。次の受信か取り込みのときに消します。"_s,
                left.join(u'\n'));
}

void AttachmentExtractor::removeStoredSets(const QString &folder,
                                           const std::function<bool(const QByteArray &raw)> &stored)
{
    const FolderHandle top = FolderHandle::open(folder, nullptr);
    if (!top.isOpen() || !top.exists(kPartialFolder))
        return;
    const FolderHandle sets = top.subfolder(kPartialFolder, false, nullptr);
    for (const QString &key : sets.entries(nullptr)) {
        QStringList left;
        if (key.endsWith(DoneSuffix)) { // its mail is stored; a removal was cut short
            removeSetFolder(sets, key, &left);
            continue;
        }
        const FolderHandle set = sets.subfolder(key, false, nullptr);
        QSet<int> numbers;
        int total = 0;
        bool allStored = set.isOpen();
        const QStringList files = set.entries(nullptr);
        for (const QString &file : files) {
            QByteArray raw;
            const MimeMessage message(set.readFile(file, &raw, nullptr) ? raw : QByteArray());
            GMimeMessagePartial *partial = message.isValid() ? findPartial(message.get()) : nullptr;
            if (!partial || !stored(raw)) {
                allStored = false;
                break;
            }
            numbers.insert(g_mime_message_partial_get_number(partial));
            total = std::max(total, g_mime_message_partial_get_total(partial));
        }
        // An incomplete set waits for its other fragments, stored or not.
        if (allStored && total >= 1 && numbers.size() == total && files.size() == total)
            removeSetFolder(sets, key, &left);
    }
    top.removeEmptyFolder(kPartialFolder);
}

QStringList AttachmentExtractor::freeNames(const QString &folder, const std::vector<HeldFile> &held, Error *err)
{
    const FolderHandle handle = FolderHandle::open(folder, err);
    QStringList names;
    if (!handle.isOpen())
        return names;
    for (const HeldFile &file : held) {
        int n = freeNumber(handle, file.wanted);
        while (n > 0 && (names.contains(SafeFileName::numbered(file.wanted, n))
                         || isTaken(handle, SafeFileName::numbered(file.wanted, n))))
            ++n;
        if (n < 0) {
            fail(err, cannotCreate(), handle.pathOf(file.wanted) + u": too many files of that name"_s);
            return {};
        }
        names << SafeFileName::numbered(file.wanted, n);
    }
    return names;
}

bool AttachmentExtractor::nameHeld(const QString &folder, const std::vector<HeldFile> &held, const QStringList &names,
                                   Error *err)
{
    const FolderHandle handle = FolderHandle::open(folder, err);
    if (!handle.isOpen())
        return false;
    for (qsizetype i = 0; i < qsizetype(held.size()); ++i) {
        bool taken = false;
        if (!handle.nameFile(held[size_t(i)].file.get(), names.value(i), &taken, err)) {
            for (qsizetype j = 0; j < i; ++j)
                handle.removeFile(names[j], nullptr);
            return false;
        }
    }
    return true;
}

QString AttachmentExtractor::saveWholeMessage(const QByteArray &raw, const QString &folder, Error *err)
{
    QStringList names;
    Error openError;
    const FolderHandle handle = FolderHandle::open(folder, &openError);
    const Output out{&handle, &openError, &names, err};
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
