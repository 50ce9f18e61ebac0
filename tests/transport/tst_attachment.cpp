#include "transport/AttachmentExtractor.h"
#include "transport/SafeFileName.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// A mail whose one attachment carries the given Content-Disposition parameters.
QByteArray mailWithFile(const QByteArray &dispositionParams, const QByteArray &type = "application/octet-stream",
                        const QByteArray &content = "ZmlsZQ==")
{
    return "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
           "--b\r\nContent-Type: "_ba + type + "\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment" + dispositionParams + "\r\n\r\n" + content + "\r\n--b--\r\n";
}

QByteArray corpusMessage(const QString &name)
{
    QFile file(QStringLiteral(HOLLIN_TEST_DATA "/corpus/messages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing corpus message %s", qPrintable(name));
    return file.readAll();
}

// Every file below root (hidden ones too), relative paths.
QStringList allFiles(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out.append(QDir(root).relativeFilePath(it.next()));
    out.sort();
    return out;
}

} // namespace

class TestAttachment : public QObject {
    Q_OBJECT

private slots:
    void safeNames_data();
    void safeNames();
    void numbered_data();
    void numbered();
    void neverOverwrites();
    void neverFollowsLinks();
    void cannotCreate();
    void splitMessage_data();
    void splitMessage();
    void splitSetsKeptApart();
    void splitStoreNeverFollowsLinks_data();
    void splitStoreNeverFollowsLinks();
};

void TestAttachment::safeNames_data()
{
    QTest::addColumn<QByteArray>("params");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QString>("name");

    const QByteArray octets = "application/octet-stream";
    QTest::newRow("plain") << "; filename=\"report.pdf\""_ba << octets << u"report.pdf"_s;
    QTest::newRow("parent dirs") << "; filename=\"../../x\""_ba << octets << u"x"_s;
    // A separator inside a name is part of it ("2024/03分"), kept in full width.
    QTest::newRow("sub dir") << "; filename=\"a/b\""_ba << octets << u"a／b"_s;
    QTest::newRow("backslashes") << "; filename=\"..\\\\..\\\\win.ini\""_ba << octets << u"win.ini"_s;
    QTest::newRow("absolute") << "; filename=\"/etc/passwd\""_ba << octets << u"etc／passwd"_s;
    QTest::newRow("windows path") << "; filename=\"C:\\\\tmp\\\\a.txt\""_ba << octets << u"tmp＼a.txt"_s;
    QTest::newRow("dot") << "; filename=\".\""_ba << octets << u"添付ファイル"_s;
    QTest::newRow("dot dot") << "; filename=\"..\""_ba << octets << u"添付ファイル"_s;
    QTest::newRow("trailing slash") << "; filename=\"dir/\""_ba << octets << u"dir"_s;
    QTest::newRow("control characters") << "; filename*=UTF-8''a%01b%0A%0Dc%7F.txt"_ba << octets << u"abc.txt"_s;
    QTest::newRow("empty") << "; filename=\"\""_ba << octets << u"添付ファイル"_s;
    QTest::newRow("no name, pdf") << QByteArray() << "application/pdf"_ba << u"添付ファイル.pdf"_s;
    QTest::newRow("encoded slash") << "; filename=\"=?UTF-8?B?Li4vZXZpbC5zaA==?=\""_ba << octets << u"evil.sh"_s;
    QTest::newRow("japanese rfc2231") << "; filename*=ISO-2022-JP''%1B%24B%3BqNA%1B%28B.txt"_ba << octets
                                      << u"資料.txt"_s;
    // GMime reads these through strict ISO-2022-JP and loses the NEC characters.
    QTest::newRow("rfc2047 jis NEC") << "; filename=\"=?ISO-2022-JP?B?GyRCLSEbKEIudHh0?=\""_ba << octets
                                     << u"①.txt"_s;
    QTest::newRow("rfc2231 jis continuation NEC") << "; filename*0*=iso-2022-jp'ja'%1B%24B-j; filename*1*=%1B%28B.pdf"_ba
                                                  << octets << u"㈱.pdf"_s;
    // Raw 8-bit names read like raw header text, never as Latin-1.
    QTest::newRow("raw euc-jp") << "; filename=\"\xB8\xAB\xC0\xD1\xBD\xF1.pdf\""_ba << octets << u"見積書.pdf"_s;
    QTest::newRow("rfc2231 without charset, sjis") << "; filename*=''%95%5C.txt"_ba << octets << u"表.txt"_s;
    QTest::newRow("raw jis") << "; filename=\"\x1B$B%F%9%H\x1B(B.txt\""_ba << octets << u"テスト.txt"_s;
    // Names a Qt path parser takes for something else stay plain names in the folder.
    QTest::newRow("resource prefix") << "; filename=\":evil.sh\""_ba << octets << u":evil.sh"_s;
    QTest::newRow("resource url") << "; filename=\"qrc:evil.sh\""_ba << octets << u"qrc:evil.sh"_s;
    QTest::newRow("home prefix") << "; filename=\"~evil.sh\""_ba << octets << u"~evil.sh"_s;
    QTest::newRow("reserved name") << "; filename=\".partial\""_ba << octets << u".partial (2)"_s;
    QTest::newRow("very long") << "; filename=\""_ba + QByteArray(300, 'n') + ".txt\"" << octets
                               << QString(196, u'n') + u".txt"_s;
}

void TestAttachment::safeNames()
{
    QFETCH(QByteArray, params);
    QFETCH(QByteArray, type);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"添付フォルダ"_s);
    QVERIFY(QDir().mkpath(folder));
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(mailWithFile(params, type), folder, &written), 1);
    QCOMPARE(written, QStringList{name});
    // Nothing anywhere but that one file directly inside the folder.
    QCOMPARE(allFiles(dir.path()), QStringList{u"添付フォルダ/"_s + name});
    QFile f(folder + u'/' + name);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), "file"_ba);
}

void TestAttachment::numbered_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("result");

    QTest::newRow("first") << u"a.txt"_s << 1 << u"a.txt"_s;
    QTest::newRow("before extension") << u"a.txt"_s << 2 << u"a (2).txt"_s;
    QTest::newRow("last dot") << u"a.tar.gz"_s << 3 << u"a.tar (3).gz"_s;
    QTest::newRow("no extension") << u"添付ファイル"_s << 2 << u"添付ファイル (2)"_s;
    QTest::newRow("hidden file") << u".profile"_s << 2 << u".profile (2)"_s;
}

void TestAttachment::numbered()
{
    QFETCH(QString, name);
    QFETCH(int, n);
    QTEST(SafeFileName::numbered(name, n), "result");
}

void TestAttachment::neverOverwrites()
{
    QTemporaryDir dir;
    QFile existing(dir.filePath(u"a.txt"_s));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep");
    existing.close();
    const QByteArray mail = mailWithFile("; filename=a.txt");
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(mail, dir.path(), &written), 1);
    QCOMPARE(written, QStringList{u"a (2).txt"_s});
    QCOMPARE(AttachmentExtractor::extract(mail, dir.path(), &written), 1);
    QCOMPARE(written, QStringList{u"a (3).txt"_s});
    // Numbering has no upper limit.
    for (int n = 4; n <= 1000; ++n)
        QVERIFY(QFile(dir.filePath(SafeFileName::numbered(u"a.txt"_s, n))).open(QIODevice::WriteOnly));
    QCOMPARE(AttachmentExtractor::extract(mail, dir.path(), &written), 1);
    QCOMPARE(written, QStringList{u"a (1001).txt"_s});
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), "keep"_ba);
}

void TestAttachment::neverFollowsLinks()
{
    QTemporaryDir outside;
    QTemporaryDir dir;
    const QString target = outside.filePath(u"victim"_s);
    // A dangling link in the folder under the attachment's name.
    QVERIFY(QFile::link(target, dir.filePath(u"x.txt"_s)));
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(mailWithFile("; filename=x.txt"), dir.path(), &written), 1);
    QCOMPARE(written, QStringList{u"x (2).txt"_s});
    QVERIFY(!QFile::exists(target));
}

void TestAttachment::cannotCreate()
{
    QTemporaryDir dir;
    QFile plain(dir.filePath(u"not-a-folder"_s));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    Error err;
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(mailWithFile("; filename=a.txt"), plain.fileName(), &written, &err), -5);
    QVERIFY(written.isEmpty());
    QVERIFY(!err.message.isEmpty());
    QVERIFY(err.detail.contains(plain.fileName()));
    // A fragment cannot be kept either.
    QCOMPARE(AttachmentExtractor::extract(corpusMessage(u"mimekit-partial-photo-1of3.eml"_s), plain.fileName(),
                                          &written, &err),
             -5);
    // Nothing to write: no error.
    Error none;
    QCOMPARE(AttachmentExtractor::extract("Subject: x\r\n\r\nbody\r\n"_ba, plain.fileName(), &written, &none), 0);
    QVERIFY(!none.isSet());
}

void TestAttachment::splitMessage_data()
{
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("in order") << QList<int>{0, 1, 2};
    QTest::newRow("last first") << QList<int>{2, 0, 1};
    QTest::newRow("repeated fragment") << QList<int>{1, 1, 0, 2};
}

void TestAttachment::splitMessage()
{
    QFETCH(QList<int>, order);
    const QStringList fragments = {u"mimekit-partial-photo-1of3.eml"_s, u"mimekit-partial-photo-2of3.eml"_s,
                                   u"mimekit-partial-photo-3of3.eml"_s};
    QTemporaryDir dir;
    QSet<int> seen;
    for (int index : order) {
        seen.insert(index);
        QStringList written;
        Error err;
        const int result = AttachmentExtractor::extract(corpusMessage(fragments[index]), dir.path(), &written, &err);
        if (seen.size() < fragments.size()) {
            QCOMPARE(result, -6);
            QCOMPARE(err.message, u"分割されたメールが全て揃っていません"_s);
            QVERIFY(written.isEmpty());
            // Only the hidden store holds anything yet.
            for (const QString &file : allFiles(dir.path()))
                QVERIFY2(file.startsWith(u".partial/"_s), qPrintable(file));
            continue;
        }
        QCOMPARE(result, 1);
        QCOMPARE(written, QStringList{u"earrings.jpg"_s});
    }
    // The kept fragments are gone once their set is complete.
    QCOMPARE(allFiles(dir.path()), QStringList{u"earrings.jpg"_s});
    QVERIFY(!QFileInfo::exists(dir.filePath(u".partial"_s)));
    // Same picture as the reference reassembly.
    QTemporaryDir reference;
    QStringList written;
    AttachmentExtractor::extract(corpusMessage(u"mimekit-partial-photo-reassembled.eml"_s), reference.path(), &written);
    QFile a(dir.filePath(u"earrings.jpg"_s));
    QFile b(reference.filePath(u"earrings.jpg"_s));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QVERIFY(a.size() > 1000);
    QCOMPARE(a.readAll(), b.readAll());
}

void TestAttachment::splitSetsKeptApart()
{
    QTemporaryDir dir;
    QStringList written;
    // Part 1 of another set waits; completing the photo set leaves it in place.
    QCOMPARE(AttachmentExtractor::extract(corpusMessage(u"mimekit-partial-rfc2046-1of2-incomplete.eml"_s), dir.path(),
                                          &written),
             -6);
    for (const char *name : {"mimekit-partial-photo-1of3.eml", "mimekit-partial-photo-2of3.eml"})
        QCOMPARE(AttachmentExtractor::extract(corpusMessage(QString::fromLatin1(name)), dir.path(), &written), -6);
    QCOMPARE(AttachmentExtractor::extract(corpusMessage(u"mimekit-partial-photo-3of3.eml"_s), dir.path(), &written), 1);
    const QStringList files = allFiles(dir.path());
    QCOMPARE(files.size(), 2);
    QVERIFY(files.contains(u"earrings.jpg"_s));
    QVERIFY(files.filter(u".partial/"_s).size() == 1);
}

void TestAttachment::splitStoreNeverFollowsLinks_data()
{
    QTest::addColumn<QString>("planted"); // the entry below the folder that is a link
    QTest::newRow("set folder") << u".partial/"_s + QString::fromLatin1(
        QCryptographicHash::hash("6MCVORPHW0U4.BCPTXD0EM9BT3@mit.edu", QCryptographicHash::Sha256).toHex());
    QTest::newRow("store folder") << u".partial"_s;
}

void TestAttachment::splitStoreNeverFollowsLinks()
{
    QFETCH(QString, planted);
    QTemporaryDir outside;
    QVERIFY(QDir().mkpath(outside.filePath(u"sub"_s)));
    QFile keep(outside.filePath(u"sub/keep.txt"_s));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();
    const QStringList before = allFiles(outside.path());
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(QFileInfo(dir.filePath(planted)).path()));
    QVERIFY(QFile::link(outside.path(), dir.filePath(planted)));
    QStringList written;
    for (const char *name : {"mimekit-partial-photo-1of3.eml", "mimekit-partial-photo-2of3.eml",
                             "mimekit-partial-photo-3of3.eml"}) {
        Error err;
        QCOMPARE(AttachmentExtractor::extract(corpusMessage(QString::fromLatin1(name)), dir.path(), &written, &err), -5);
        QVERIFY(!err.message.isEmpty());
    }
    QCOMPARE(allFiles(outside.path()), before);
    QVERIFY(QFileInfo(dir.filePath(planted)).isSymLink());
}

QTEST_GUILESS_MAIN(TestAttachment)
#include "tst_attachment.moc"
