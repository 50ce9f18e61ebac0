#include "settings/AccountSettings.h"
#include "settings/NoticeSettings.h"
#include "storage/AppState.h"
#include "storage/ProfileFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestAccountSettings : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
    }

    void savedAccountIsEmptyWithoutFile()
    {
        const Account a = savedAccount(m_state->root);
        QVERIFY(a.id.isEmpty());
        QVERIFY(a.password.isEmpty());
    }

    void acceptWithSaveWritesAllThreeOwnerOnly()
    {
        QVERIFY(acceptAccount(*m_state, u"taro"_s, u"秘密pw"_s, true, nullptr));
        QCOMPARE(m_state->accountId, u"taro"_s);
        QCOMPARE(m_state->accountPassword, u"秘密pw"_s);
        const QString path = m_state->root.idPassIniFile();
        const ProfileFile file(path);
        QCOMPARE(file.readText(u"NAME"_s), u"taro"_s);
        QCOMPARE(file.readText(u"NAME2"_s), u"秘密pw"_s);
        QCOMPARE(file.readText(u"NAME3"_s), u"1"_s);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
        QVERIFY(QFile::permissions(path) & QFile::ReadOwner);

        const Account a = savedAccount(m_state->root);
        QCOMPARE(a.id, u"taro"_s);
        QCOMPARE(a.password, u"秘密pw"_s);
    }

    void acceptWithoutSaveWritesOnlyName3()
    {
        QVERIFY(acceptAccount(*m_state, u"hanako"_s, u"pw"_s, false, nullptr));
        QCOMPARE(m_state->accountId, u"hanako"_s);
        const ProfileFile file(m_state->root.idPassIniFile());
        QCOMPARE(file.readText(u"NAME3"_s), u"0"_s);
        QVERIFY(!file.hasKey(u"NAME"_s));
        QVERIFY(!file.hasKey(u"NAME2"_s));
    }

    void acceptWithoutSaveKeepsEarlierAccount()
    {
        QVERIFY(acceptAccount(*m_state, u"taro"_s, u"old"_s, true, nullptr));
        QVERIFY(acceptAccount(*m_state, u"jiro"_s, u"new"_s, false, nullptr));
        // ... and stays the one in use for receives and the connection test.
        QCOMPARE(m_state->accountId + u'/' + m_state->accountPassword, u"taro/old"_s);
        QVERIFY(!m_state->accountUnsaved);
        const Account a = savedAccount(m_state->root);
        QCOMPARE(a.id, u"taro"_s);
        QCOMPARE(a.password, u"old"_s);
        QCOMPARE(ProfileFile(m_state->root.idPassIniFile()).readText(u"NAME3"_s), u"0"_s);
    }

    void acceptWithSaveAndEmptyPasswordStoresEmptyValue()
    {
        QVERIFY(acceptAccount(*m_state, u"taro"_s, u"old"_s, true, nullptr));
        QVERIFY(acceptAccount(*m_state, u"taro"_s, QString(), true, nullptr));
        const ProfileFile file(m_state->root.idPassIniFile());
        QVERIFY(file.hasKey(u"NAME2"_s));
        QVERIFY(savedAccount(m_state->root).password.isEmpty());
    }

    void serverSettingsRoundTrip()
    {
        ServerSettings s;
        s.smtpServer = u"smtps://mail.example.jp:465"_s;
        s.pop3Server = u"127.0.0.1:1110"_s;
        s.mailAddress = u"taro@example.jp"_s;
        s.apopFlag = 1;
        QVERIFY(acceptServerSettings(*m_state, s, nullptr));
        QCOMPARE(m_state->smtpServer, s.smtpServer);
        QCOMPARE(m_state->pop3Server, s.pop3Server);
        QCOMPARE(m_state->mailAddress, s.mailAddress);
        QCOMPARE(m_state->apopFlag, qint16(1));

        QFile file(m_state->root.serverSettingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("SMTP=smtps://mail.example.jp:465\r\n"
                                            "POP3=127.0.0.1:1110\r\n"
                                            "MAIL=taro@example.jp\r\n"
                                            "APOP=1\r\n"));
        const ServerSettings back = ServerSettings::read(m_state->root.serverSettingsFile());
        QCOMPARE(back.smtpServer, s.smtpServer);
        QCOMPARE(back.pop3Server, s.pop3Server);
        QCOMPARE(back.mailAddress, s.mailAddress);
        QCOMPARE(back.apopFlag, qint16(1));

        const ServerSettings shown = serverSettingsOf(*m_state);
        QCOMPARE(shown.pop3Server, s.pop3Server);
        QCOMPARE(shown.apopFlag, qint16(1));
    }

    void emptyServerValuesAreStoredAsGiven()
    {
        QVERIFY(acceptServerSettings(*m_state, ServerSettings{}, nullptr));
        QFile file(m_state->root.serverSettingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n"));
    }

    void charactersTheFileCannotHoldAreRefused()
    {
        m_state->accountId = u"before"_s;
        Error err;
        QVERIFY(!acceptAccount(*m_state, u"taro"_s, u"pässwörd"_s, true, &err));
        QVERIFY(err.message.contains(u"Shift-JIS"_s));
        QCOMPARE(m_state->accountId, u"before"_s);
        QVERIFY(!QFile::exists(m_state->root.idPassIniFile()));
        // Not saving: nothing to hold, so it is accepted.
        QVERIFY(acceptAccount(*m_state, u"taro"_s, u"pässwörd"_s, false, nullptr));
        QCOMPARE(m_state->accountPassword, u"pässwörd"_s);

        ServerSettings s;
        s.pop3Server = u"pop.例え.jp"_s; // CP932 holds these
        QVERIFY(acceptServerSettings(*m_state, s, nullptr));
        s.smtpServer = u"smtp.😀.jp"_s;
        QVERIFY(!acceptServerSettings(*m_state, s, &err));
        QVERIFY(m_state->smtpServer.isEmpty());
        QCOMPARE(ServerSettings::read(m_state->root.serverSettingsFile()).pop3Server,
                 u"pop.例え.jp"_s);
    }

    void noticeOptionsLoad_data()
    {
        QTest::addColumn<QString>("number4");
        QTest::addColumn<QString>("number5");
        QTest::addColumn<int>("autoErase"); // 1 on, 0 off, -1 none
        QTest::addColumn<bool>("showNotice");
        QTest::newRow("missing") << QString() << QString() << 0 << false;
        QTest::newRow("both on") << u"1"_s << u"1"_s << 1 << true;
        QTest::newRow("off, empty") << u"0"_s << u""_s << 0 << false;
        QTest::newRow("other values") << u"2"_s << u"2"_s << -1 << false;
    }

    void noticeOptionsLoad()
    {
        QFETCH(QString, number4);
        QFETCH(QString, number5);
        QFETCH(int, autoErase);
        QFETCH(bool, showNotice);
        ProfileFile ini(m_state->root.iniFile());
        if (!number4.isNull())
            QVERIFY(ini.writeText(u"NUMBER4"_s, number4));
        if (!number5.isNull())
            QVERIFY(ini.writeText(u"NUMBER5"_s, number5));
        const NoticeSettings notice(m_state->root.iniFile());
        const std::optional<bool> erase = notice.autoErase();
        QCOMPARE(erase ? int(*erase) : -1, autoErase);
        QCOMPARE(notice.showNotice(), showNotice);
    }

    void noticeOptionsWrite()
    {
        NoticeSettings notice(m_state->root.iniFile());
        QVERIFY(notice.writeOnClose(u"Text2"_s, true, false, nullptr));
        const ProfileFile ini(m_state->root.iniFile());
        QCOMPARE(ini.readText(u"NUMBER2"_s), u"Text2"_s);
        QCOMPARE(ini.readText(u"NUMBER4"_s), u"1"_s);
        QVERIFY(ini.hasKey(u"NUMBER5"_s));
        QCOMPARE(ini.readText(u"NUMBER5"_s), QString());
        QCOMPARE(notice.autoErase(), std::optional<bool>(true));

        QVERIFY(notice.writeOnClose(u"0"_s, false, true, nullptr));
        QCOMPARE(notice.autoErase(), std::optional<bool>(false));
        QVERIFY(notice.showNotice());
        QCOMPARE(notice.hiddenValue(), u"0"_s);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
};

QTEST_GUILESS_MAIN(TestAccountSettings)
#include "tst_accountsettings.moc"
