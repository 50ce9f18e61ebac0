#include "storage/Cp932.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"

#include <QFile>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class TestSettingsFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void profileRead_data();
    void profileRead();
    void profileWriteKeepsOtherLines();
    void profileWriteCreates();
    void ownerOnly();
    void serverRead_data();
    void serverRead();
    void serverWrite();
    void writeRemovesTemporaryOfKilledWrite_data();
    void writeRemovesTemporaryOfKilledWrite();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsFiles::profileRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("present");
    const QByteArray base = "[EXEINI]\r\nNUMBER7=2\r\nNUMBERW=1234.5\r\nNAME=-1\r\nNAME2=  pass word \r\n"
                            "NUMBER2=abc\r\nEMPTY=\r\n[OTHER]\r\nNUMBER9=1\r\n";
    QTest::newRow("integer") << base << u"NUMBER7"_s << 2 << u"2"_s << true;
    QTest::newRow("key case-insensitive") << base << u"number7"_s << 2 << u"2"_s << true;
    QTest::newRow("fraction dropped") << base << u"NUMBERW"_s << 1234 << u"1234.5"_s << true;
    QTest::newRow("negative") << base << u"NAME"_s << -1 << u"-1"_s << true;
    QTest::newRow("value trimmed") << base << u"NAME2"_s << 0 << u"pass word"_s << true;
    QTest::newRow("no number is 0") << base << u"NUMBER2"_s << 0 << u"abc"_s << true;
    QTest::newRow("empty value") << base << u"EMPTY"_s << 77 << QString() << true;
    QTest::newRow("other section ignored") << base << u"NUMBER9"_s << 77 << u"dflt"_s << false;
    QTest::newRow("absent key") << base << u"NUMBER4"_s << 77 << u"dflt"_s << false;
    QTest::newRow("section case-insensitive") << QByteArray("[exeini]\nNUMBER4=1\n") << u"NUMBER4"_s << 1
                                              << u"1"_s << true;
    QTest::newRow("CP932 value") << QByteArray("[EXEINI]\r\nNAME=\x8E\x52\x93\x63\r\n") << u"NAME"_s << 0
                                 << u"山田"_s << true;
    QTest::newRow("text cut at 255") << "[EXEINI]\r\nNAME=" + QByteArray(300, 'x') + "\r\n" << u"NAME"_s << 0
                                     << QString(255, u'x') << true;
    QTest::newRow("no file") << QByteArray() << u"NUMBER"_s << 77 << u"dflt"_s << false;
}

void TestSettingsFiles::profileRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(int, number);
    QFETCH(QString, text);
    QFETCH(bool, present);
    if (!file.isEmpty())
        writeBytes(path(u"ini.ini"_s), file);
    ProfileFile ini(path(u"ini.ini"_s));
    QCOMPARE(ini.readInt(key, 77), number);
    QCOMPARE(ini.readText(key, u"dflt"_s), text);
    QCOMPARE(ini.hasKey(key), present);
}

void TestSettingsFiles::profileWriteKeepsOtherLines()
{
    const QByteArray before = "; comment \x82\xA0\r\n[Other]\r\nNUMBER7=9\r\n[exeini]\r\nnumber7=1\r\nNAME=x\r\n\r\n"
                              "[Last]\nkey=v\n";
    writeBytes(path(u"ini.ini"_s), before);
    ProfileFile ini(path(u"ini.ini"_s));
    QVERIFY(ini.writeInt(u"NUMBER7"_s, 2));
    QVERIFY(ini.writeText(u"NUMBER6"_s, u"３"_s));
    QCOMPARE(readBytes(path(u"ini.ini"_s)),
             QByteArray("; comment \x82\xA0\r\n[Other]\r\nNUMBER7=9\r\n[exeini]\r\nnumber7=2\r\nNAME=x\r\n"
                        "NUMBER6=\x82\x52\r\n\r\n[Last]\r\nkey=v\r\n"));
    QCOMPARE(ini.readInt(u"NUMBER7"_s), 2);
}

void TestSettingsFiles::profileWriteCreates()
{
    ProfileFile form(path(u"Form.ini"_s));
    QCOMPARE(form.readInt(u"NUMBERW"_s), 0);
    QVERIFY(form.writeInt(u"NUMBERW"_s, -120));
    QVERIFY(form.writeText(u"NUMBERH"_s, u"line\r\nbreak"_s));
    QCOMPARE(readBytes(path(u"Form.ini"_s)), QByteArray("[EXEINI]\r\nNUMBERW=-120\r\nNUMBERH=line  break\r\n"));
    QCOMPARE(modeOf(path(u"Form.ini"_s)), 0600); // a new file is the owner's alone

    Error err;
    ProfileFile missingFolder(path(u"no/such/folder/ini.ini"_s));
    QVERIFY(!missingFolder.writeInt(u"NUMBER"_s, 1, &err));
    QVERIFY(err.isSet());
}

void TestSettingsFiles::ownerOnly()
{
    const QString file = path(u"iniIdPass.ini"_s);
    ProfileFile idPass(file, true);
    QVERIFY(idPass.writeText(u"NAME2"_s, u"secret"_s));
    QCOMPARE(modeOf(file), 0600);
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    QVERIFY(idPass.writeText(u"NAME"_s, u"user"_s));
    QCOMPARE(modeOf(file), 0600);
    QCOMPARE(idPass.readText(u"NAME2"_s), u"secret"_s);
}

void TestSettingsFiles::serverRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("apop");
    QTest::newRow("four lines") << QByteArray("SMTP=smtp.x.jp\r\nPOP3=pop.x.jp\r\nMAIL=me@x.jp\r\nAPOP=1\r\n")
                                << u"smtp.x.jp"_s << u"pop.x.jp"_s << u"me@x.jp"_s << 1;
    QTest::newRow("no APOP line") << QByteArray("SMTP=s\r\n") << u"s"_s << QString() << QString() << 0;
    QTest::newRow("order free, last wins") << QByteArray("APOP=1\r\nMAIL=a\r\nMAIL=b\r\nAPOP=0\r\n")
                                           << QString() << QString() << u"b"_s << 0;
    QTest::newRow("150-char line keeps 100") << "SMTP=" + QByteArray(150, 'h') + "\r\n"
                                             << QString(100, u'h') << QString() << QString() << 0;
    QTest::newRow("lower-case key ignored") << QByteArray("smtp=a\r\nPop3=b\r\n")
                                            << QString() << QString() << QString() << 0;
    QTest::newRow("APOP x") << QByteArray("APOP=x\r\n") << QString() << QString() << QString() << 0;
    QTest::newRow("APOP leading number") << QByteArray("APOP= 1abc\r\n") << QString() << QString() << QString() << 1;
    QTest::newRow("APOP rounded") << QByteArray("APOP=1.6\r\n") << QString() << QString() << QString() << 2;
    QTest::newRow("APOP beyond 16 bits") << QByteArray("APOP=99999\r\n") << QString() << QString() << QString() << 0;
    QTest::newRow("value keeps spaces, LF lines") << QByteArray("MAIL= a@b \nSMTP=s")
                                                  << u"s"_s << QString() << u" a@b "_s << 0;
    QTest::newRow("CP932") << QByteArray("MAIL=\x8E\x52@x\r\n") << QString() << QString() << u"山@x"_s << 0;
}

void TestSettingsFiles::serverRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(int, apop);
    writeBytes(path(u"hlmail.ini"_s), file);
    Error err;
    const ServerSettings s = ServerSettings::read(path(u"hlmail.ini"_s), &err);
    QVERIFY(!err.isSet());
    QCOMPARE(s.smtpServer, smtp);
    QCOMPARE(s.pop3Server, pop3);
    QCOMPARE(s.mailAddress, mail);
    QCOMPARE(int(s.apopFlag), apop);
}

void TestSettingsFiles::serverWrite()
{
    Error err;
    const ServerSettings missing = ServerSettings::read(path(u"hlmail.ini"_s), &err);
    QVERIFY(!err.isSet());
    QVERIFY(missing.smtpServer.isEmpty() && missing.apopFlag == 0);

    writeBytes(path(u"hlmail.ini"_s), "old line that goes away\r\n");
    QVERIFY(QDir(m_dir->path()).mkdir(u"★MailData"_s)); // whose lock the write takes
    const ServerSettings s{u"smtp.例.jp"_s, u"pop"_s, QString(), 1};
    QVERIFY(s.write(path(u"hlmail.ini"_s)));
    QCOMPARE(readBytes(path(u"hlmail.ini"_s)),
             "SMTP=smtp." + Cp932::encode(u"例"_s) + ".jp\r\nPOP3=pop\r\nMAIL=\r\nAPOP=1\r\n");
    const ServerSettings back = ServerSettings::read(path(u"hlmail.ini"_s));
    QCOMPARE(back.smtpServer, s.smtpServer);
    QCOMPARE(back.apopFlag, s.apopFlag);
}

void TestSettingsFiles::writeRemovesTemporaryOfKilledWrite_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("ini.ini") << u"★MailData/ini.ini"_s;
    QTest::newRow("hlmail.ini") << u"hlmail.ini"_s;
}

// A write killed between creating its temporary file and the rename leaves
// that file behind; the next write of the same file removes it, and nothing
// that only looks alike.
void TestSettingsFiles::writeRemovesTemporaryOfKilledWrite()
{
    QFETCH(QString, file);
    QVERIFY(QDir(m_dir->path()).mkdir(u"★MailData"_s));
    const QString killed = path(file + u".hollin-tmp.Ab12Cd"_s);
    const QStringList kept{path(file + u".backup"_s), path(file + u".hollin-tmp.Ab12Cd3"_s),
                           path(u"other.ini.hollin-tmp.Ab12Cd"_s)};
    for (const QString &p : QStringList{killed} + kept)
        writeBytes(p, "half");
    Error err;
    const ServerSettings server{u"smtp"_s, u"pop"_s, QString(), 0};
    if (file == u"hlmail.ini")
        QVERIFY2(server.write(path(file), &err), qPrintable(err.text()));
    else
        QVERIFY2(ProfileFile(path(file)).writeText(u"KEY"_s, u"1"_s, &err), qPrintable(err.text()));
    QVERIFY(!QFile::exists(killed));
    for (const QString &p : kept)
        QCOMPARE(readBytes(p), QByteArray("half"));
}

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settingsfiles.moc"
