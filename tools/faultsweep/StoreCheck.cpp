#include "StoreCheck.h"

#include "SettingsSample.h"

#include "inbox/logic/ReceivedRecord.h"
#include "storage/AddressBookFile.h"
#include "storage/Cp932.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/SavedFullText.h"
#include "storage/SentMailFile.h"
#include "storage/ServerSettings.h"
#include "storage/TextUtil.h"
#include "storage/ThreadIndex.h"
#include "storage/UidlList.h"
#include "transport/MessageKey.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Byte layout of a record file, as the storage classes document it.
struct Layout {
    int recordSize;
    int lineEndOffset;
    int flagOffset;
};

constexpr Layout MailLayout{MailRecordFile::RecordSize, 32280, 32282};
constexpr Layout AddressLayout{AddressBookFile::RecordSize, 90, 92};

// One live entry: its id and, for mail, whether the body names extracted attachments.
struct Entry {
    QString id;
    int recordNumber = 0;
    bool attachmentLine = false;
    MailRecord mail;    // received and held mail
    QString digest;     // received mail: its key in the thread index
};

// The Subject field of a raw message (ASCII in the sweep's mails); empty without one.
QString subjectOf(const QByteArray &raw)
{
    return QString::fromLatin1(headerValue(raw, "subject").trimmed());
}

// The copies of the sent-mail file, named by their subjects; a file that does
// not read goes to damage as corrupt.
QList<Entry> readSentCopies(const QString &path, Damage *damage)
{
    const SentMailFile file(path);
    QList<SentMailFile::Entry> copies;
    QList<Entry> entries;
    Error err;
    if (!file.list(&copies, &err)) {
        ++damage->corrupt;
        damage->details << err.text();
        return entries;
    }
    for (const SentMailFile::Entry &copy : std::as_const(copies)) {
        QByteArray raw;
        if (!file.read(copy, &raw, &err)) {
            ++damage->corrupt;
            damage->details << err.text();
            continue;
        }
        Entry entry;
        entry.recordNumber = int(entries.size()) + 1;
        entry.id = subjectOf(raw);
        entries.append(entry);
    }
    return entries;
}

// Parses a record file on its own terms; problems go to damage as corrupt.
QList<Entry> readEntries(const QString &path, Store store, Damage *damage)
{
    if (store == Store::Sent)
        return readSentCopies(path, damage);
    QFile file(path);
    QList<Entry> entries;
    if (!file.exists())
        return entries;
    if (!file.open(QIODevice::ReadOnly)) {
        ++damage->corrupt;
        damage->details << path + u": cannot be read"_s;
        return entries;
    }
    const QByteArray bytes = file.readAll();
    const Layout layout = store == Store::Address ? AddressLayout : MailLayout;
    const QString name = QFileInfo(path).fileName();
    if (bytes.size() % layout.recordSize != 0) {
        ++damage->corrupt;
        damage->details << u"%1: %2 bytes, not a whole number of records"_s.arg(name).arg(bytes.size());
    }
    for (qsizetype at = 0; at + layout.recordSize <= bytes.size(); at += layout.recordSize) {
        const QByteArray record = bytes.mid(at, layout.recordSize);
        const int n = int(at / layout.recordSize) + 1;
        const int flag = quint8(record.at(layout.flagOffset)) | quint8(record.at(layout.flagOffset + 1)) << 8;
        if (record.mid(layout.lineEndOffset, 2) != "\r\n" || (flag != 0 && flag != 1)) {
            ++damage->corrupt;
            damage->details << u"%1: record %2 has no CR LF or a live flag of %3"_s.arg(name).arg(n).arg(flag);
            continue;
        }
        if (flag == 0)
            continue;
        Entry entry;
        entry.recordNumber = n;
        if (store == Store::Address) {
            entry.id = trimSpaces(AddressBookFile::decode(record).name);
        } else {
            entry.mail = MailRecordFile::decode(record);
            entry.id = trimSpaces(cutAtNul(entry.mail.subject));
            entry.attachmentLine = entry.mail.body.contains(ReceivedRecord::attachmentLine());
            entry.digest = ThreadIndex::digest(record);
        }
        entries.append(entry);
    }
    return entries;
}

QString storePath(const DataRoot &root, Store store)
{
    switch (store) {
    case Store::Received:
        return root.receivedMailFile();
    case Store::Held:
        return root.heldMailFile();
    case Store::Address:
        return root.addressBookFile();
    case Store::Sent:
        return SentMailFile::pathIn(root.dataFolder());
    }
    return {};
}

QByteArray readFile(const QString &path, bool *exists)
{
    QFile file(path);
    *exists = file.open(QIODevice::ReadOnly);
    return *exists ? file.readAll() : QByteArray();
}

void corrupt(Damage *damage, const QString &what)
{
    ++damage->corrupt;
    damage->details << what;
}

// One of the two lists beside the received mail: every line reads, and none
// is still pending once a run after the fault ended well.
void checkList(const QString &path, Damage *damage)
{
    bool exists = false;
    const QByteArray bytes = readFile(path, &exists);
    const QString name = QFileInfo(path).fileName();
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // empty, or a line a kill cut short, which is ignored
    static const QRegularExpression number(u"^F?[0-9]+$"_s);
    static const QRegularExpression sha1(u"^[0-9a-f]{40}$"_s);
    for (const QByteArray &line : std::as_const(lines)) {
        const QList<QByteArray> f = line.split(' ');
        const bool idOk = UidlList::isUsableId(QString::fromLatin1(f.at(0)));
        const bool timeOk = f.size() >= 2 && number.match(QString::fromLatin1(f.at(1))).hasMatch();
        if (idOk && timeOk && (f.size() == 2 || f.size() == 3))
            continue;
        const bool pending = idOk && timeOk && f.size() >= 4 && f.size() <= 6
            && sha1.match(QString::fromLatin1(f.at(f.size() == 4 ? 3 : 4))).hasMatch();
        corrupt(damage, pending ? u"%1: a pending line left after recovery: %2"_s.arg(name, QString::fromLatin1(line.left(60)))
                                : u"%1: a line that does not read: %2"_s.arg(name, QString::fromLatin1(line.left(60))));
    }
}

// Every other file the program keeps reads back: the lists, the thread index
// (a line for each received mail of the sweep), drafts, the settings and the
// sent-mail file.
void checkKeptFiles(const DataRoot &root, const QList<Entry> &received, bool threadLinesTold, Damage *damage)
{
    checkList(root.uidlListFile(), damage);
    checkList(root.storedMessageListFile(), damage);
    const ThreadIndex threads(ThreadIndex::pathIn(root.dataFolder()));
    for (const Entry &entry : received) {
        if (!entry.id.startsWith(u"fs-"_s))
            continue; // not a mail of the sweep's (a sent mail received): its Message-ID is not known here
        ThreadIndex::Ids ids;
        Error err;
        if (!threads.find(entry.digest, &ids, &err))
            corrupt(damage, err.text());
        else if (ids.messageId != u"<%1@example.jp>"_s.arg(entry.id) && !threadLinesTold)
            corrupt(damage, u"%1 has no line in the thread index"_s.arg(entry.id));
    }
    const QDir data(root.dataFolder());
    for (const QString &draft : data.entryList({u"unsent-*.json"_s}, QDir::Files)) {
        bool exists = false;
        if (!QJsonDocument::fromJson(readFile(data.filePath(draft), &exists)).isObject())
            corrupt(damage, draft + u": the draft does not read"_s);
    }
    Error err;
    if (ServerSettings::read(root.serverSettingsFile(), &err).pop3Server.isEmpty() || err.isSet())
        corrupt(damage, u"hlmail.ini: the server settings do not read back "_s + err.text());
    if (ProfileFile(root.idPassIniFile()).readText(u"NAME"_s).isEmpty())
        corrupt(damage, u"iniIdPass.ini: the account does not read back"_s);
    if (QFile::exists(root.hollinIniFile())
        && QSettings(root.hollinIniFile(), QSettings::IniFormat).status() != QSettings::NoError)
        corrupt(damage, u"hollin.ini does not read"_s);
    QList<SentMailFile::Entry> copies;
    const SentMailFile sent(SentMailFile::pathIn(root.dataFolder()));
    if (QFile::exists(sent.path()) && !sent.list(&copies, &err))
        corrupt(damage, err.text());
}

} // namespace

int recordNumberOf(const QString &root, Store store, const QString &id)
{
    Damage ignored;
    for (const Entry &entry : readEntries(storePath(DataRoot(root), store), store, &ignored)) {
        if (entry.id == id)
            return entry.recordNumber;
    }
    return 0;
}

QStringList liveIds(const QString &root, Store store)
{
    Damage ignored;
    QStringList ids;
    for (const Entry &entry : readEntries(storePath(DataRoot(root), store), store, &ignored))
        ids << entry.id;
    return ids;
}

void Damage::add(const Damage &other)
{
    lost += other.lost;
    duplicated += other.duplicated;
    revived += other.revived;
    attachmentsLost += other.attachmentsLost;
    corrupt += other.corrupt;
    debris += other.debris;
    details += other.details;
}

QSet<QString> filesBelow(const QString &root)
{
    QSet<QString> files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(base.relativeFilePath(it.next()));
    return files;
}

QStringList subjectsOf(const QList<QByteArray> &messages)
{
    QStringList subjects;
    for (const QByteArray &raw : messages) {
        if (const QString subject = subjectOf(raw); !subject.isEmpty())
            subjects << subject;
    }
    return subjects;
}

Damage inspect(const QString &rootPath, const Expectation &expected, const QStringList &onServer,
               const QSet<QString> &referenceFiles)
{
    Damage damage;
    const DataRoot root(rootPath);
    const QList<Entry> entries = readEntries(storePath(root, expected.store), expected.store, &damage);
    QHash<QString, int> copies;
    QHash<QString, bool> attachmentLine;
    QHash<QString, MailRecord> mails;
    for (const Entry &entry : entries) {
        ++copies[entry.id];
        attachmentLine[entry.id] = entry.attachmentLine;
        mails[entry.id] = entry.mail;
    }
    for (const QString &id : expected.ids) {
        const int n = copies.value(id);
        if (expected.gone.contains(id)) {
            if (n > 0) {
                damage.revived += n;
                damage.details << u"%1 stored again after its deletion"_s.arg(id);
            }
            continue;
        }
        // A sent mail on the server is no copy of it.
        if (n == 0 && (expected.store == Store::Sent || !onServer.contains(id))) {
            ++damage.lost;
            damage.details << u"%1 lost"_s.arg(id);
        }
        if (n > 1) {
            damage.duplicated += n - 1;
            damage.details << u"%1 stored %2 times"_s.arg(id).arg(n);
        }
        const auto attachment = expected.attachments.constFind(id);
        if (n > 0 && attachment != expected.attachments.cend()) {
            bool exists = false;
            const QByteArray content = readFile(QDir(root.attachmentFolder()).filePath(attachment->fileName), &exists);
            if (!attachmentLine.value(id) || !exists || content != attachment->content) {
                ++damage.attachmentsLost;
                damage.details << u"%1 stored %2"_s.arg(id, !attachmentLine.value(id) ? u"without its attachment line"_s
                                                                 : exists ? u"with a different attachment"_s
                                                                          : u"but its attachment file is missing"_s);
            }
        }
        const auto fullText = expected.fullTexts.constFind(id);
        if (n > 0 && fullText != expected.fullTexts.cend()
            && !SavedFullText::bodyToShow(mails.value(id), root.attachmentFolder()).contains(*fullText)) {
            ++damage.attachmentsLost;
            damage.details << u"%1 stored without its whole text"_s.arg(id);
        }
    }
    for (auto it = copies.cbegin(); it != copies.cend(); ++it) {
        if (expected.mayAlsoHold.contains(it.key()) && it.value() > 1) {
            damage.duplicated += it.value() - 1;
            damage.details << u"%1 stored %2 times"_s.arg(it.key()).arg(it.value());
        } else if (!expected.ids.contains(it.key()) && !expected.mayAlsoHold.contains(it.key())) {
            ++damage.corrupt;
            damage.details << u"a record of no mail sent: \"%1\""_s.arg(it.key());
        }
    }
    Damage ignored;
    if (expected.keptFiles)
        checkKeptFiles(root, expected.store == Store::Received ? entries
                                                           : readEntries(root.receivedMailFile(), Store::Received, &ignored),
                       expected.threadLinesTold, &damage);
    if (!expected.settingsTag.isEmpty()) {
        const QStringList wrong = settingssample::differences(root, expected.settingsTag.toInt());
        damage.corrupt += int(wrong.size());
        damage.details += wrong;
    }
    // Names with a time in them (a saved full text) differ from run to run,
    // and so does a number added when two fall in one second: counted by
    // their form, such a run of digits left out.
    static const QRegularExpression digits(u"[0-9][0-9_-]*"_s);
    QHash<QString, int> expectedForms;
    for (const QString &file : referenceFiles)
        ++expectedForms[QString(file).replace(digits, u"#"_s)];
    QStringList extra;
    for (const QString &file : filesBelow(rootPath)) {
        if (!referenceFiles.contains(file) && --expectedForms[QString(file).replace(digits, u"#"_s)] < 0)
            extra << file;
    }
    extra.sort();
    damage.debris += int(extra.size());
    for (const QString &file : std::as_const(extra))
        damage.details << u"left behind: "_s + file;
    return damage;
}

} // namespace hollin
