#include "addressbook/AddressBookList.h"
#include "addressbook/FriendForm.h"
#include "FreshProgram.h"
#include "app/AppWindows.h"
#include "storage/AddressBookFile.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestFriendForm : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshProgram> m_program;

    FriendForm *form() { return m_program->windows().friendForm(); }
    template <class T> T *control(const char *name) { return controlOf<T>(form(), name); }
    QString text(const char *name) { return control<QLineEdit>(name)->text(); }
    void click(const char *name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    QTreeWidget *list() { return control<QTreeWidget>("MailListView"); }
    QString status() { return control<QLabel>("Label7")->text(); }
    void pressRow(int row)
    {
        QTreeWidget *l = list();
        const QRect r = l->visualItemRect(l->topLevelItem(row));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
    }
    AddressBookFile book() const
    {
        return AddressBookFile(m_program->state().root.addressBookFile(), m_program->state().root.addressBookTemp());
    }
    void store(const QStringList &addresses)
    {
        AddressBookFile file = book();
        for (const QString &a : addresses)
            QVERIFY(file.append(AddressEntry{u"名前 "_s + a, a}) > 0);
    }

private slots:
    void init()
    {
        m_program = std::make_unique<FreshProgram>();
        QVERIFY(m_program->isReady());
    }
    void cleanup() { m_program.reset(); }

    void absentFileListsEmpty()
    {
        QVERIFY(!QFile::exists(m_program->state().root.addressBookFile()));
        form();
        QVERIFY(QFile::exists(m_program->state().root.addressBookFile()));
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(text("Text3"), u"0"_s);
        QCOMPARE(list()->headerItem()->text(0), u"Address"_s);
        QCOMPARE(list()->headerItem()->text(1), u"Name"_s);
    }

    void registerTwiceGivesTwoRows()
    {
        control<QLineEdit>("Text4")->setText(u"taro@example.jp"_s);
        control<QLineEdit>("Text2")->setText(u"日本太郎"_s);
        click("Command3");
        click("Command3");
        QCOMPARE(list()->topLevelItemCount(), 2);
        for (int row = 0; row < 2; ++row) {
            // The list shows the stored field without its padding.
            QCOMPARE(list()->topLevelItem(row)->text(0), u"taro@example.jp"_s);
            QCOMPARE(list()->topLevelItem(row)->text(1), u"日本太郎"_s);
        }
        QCOMPARE(text("Text3"), u"2"_s);
        QCOMPARE(m_program->state().currentRecordNumber, qint16(2));
        QCOMPARE(status(), u"　登録が完了しました。"_s);
        QCOMPARE(text("Text4"), u"taro@example.jp"_s);
        QCOMPARE(fileBytes(m_program->state().root.addressBookFile()).size(), 2 * AddressBookFile::RecordSize);
    }

    // What the 90-byte fields cannot hold is refused with its size, never cut:
    // a cut address is a broken or, worse, another valid one.
    void registerRefusesWhatDoesNotFit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        const QString address = u"<taro.yamada.example@sub.example.co.jp>"_s; // 39 bytes
        QTest::newRow("card form of 91 bytes") << u"太郎"_s << QString(26, u'山') + address
            << u"メールアドレスが長すぎるため登録できません（91 バイトあります。登録できるのは 90 バイト、全角なら 45 文字までです）。"_s;
        QTest::newRow("card form of 90 bytes") << u"太郎"_s << QString(25, u'山') + u'X' + address << QString();
        QTest::newRow("name over 90 bytes") << QString(46, u'名') << u"a@example.jp"_s
            << u"名前が長すぎるため登録できません（92 バイトあります。登録できるのは 90 バイト、全角なら 45 文字までです）。"_s;
    }
    void registerRefusesWhatDoesNotFit()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, message);
        control<QLineEdit>("Text2")->setText(name);
        control<QLineEdit>("Text4")->setText(address);
        click("Command3");
        QCOMPARE(Prompt::shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(list()->topLevelItemCount(), message.isEmpty() ? 1 : 0);
        if (message.isEmpty())
            QCOMPARE(list()->topLevelItem(0)->text(0), address);
        else
            QVERIFY(status() != u"　登録が完了しました。"_s);
    }

    void registerAsksBeforeLosingCharacters_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("keep editing") << false;
        QTest::newRow("register with 〓") << true;
    }
    void registerAsksBeforeLosingCharacters()
    {
        QFETCH(bool, yes);
        control<QLineEdit>("Text2")->setText(u"友😀"_s);
        control<QLineEdit>("Text4")->setText(u"tomo@example.jp"_s);
        Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
        click("Command3");
        QCOMPARE(Prompt::shownTexts(), QStringList{cp932LossQuestion(u"😀"_s)});
        QCOMPARE(list()->topLevelItemCount(), yes ? 1 : 0);
        if (yes)
            QCOMPARE(list()->topLevelItem(0)->text(1), u"友〓"_s);
    }

    void businessCard_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("spaces around the address") << u"X"_s << u" a "_s << u"X<a>"_s << QString();
        QTest::newRow("card kept as typed") << u" 日本太郎"_s << u"taro@example.jp"_s
                                            << u" 日本太郎<taro@example.jp>"_s << QString();
        QTest::newRow("no address") << u"X"_s << QString() << QString()
                                    << u"メールアドレスが入力されていません"_s;
        QTest::newRow("no card") << QString() << u"a"_s << u"a"_s << u"名詞が入力されていません"_s;
    }
    void businessCard()
    {
        QFETCH(QString, card);
        QFETCH(QString, address);
        control<QLineEdit>("Text50")->setText(card);
        control<QLineEdit>("Text4")->setText(address);
        click("Command38");
        QFETCH(QString, result);
        QFETCH(QString, message);
        QCOMPARE(text("Text4"), result);
        QCOMPARE(Prompt::shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(fileBytes(m_program->state().root.addressBookFile()).size(), 0); // nothing stored until registered
    }

    void deleteAnswered_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void deleteAnswered()
    {
        QFETCH(bool, yes);
        store({u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s});
        const QByteArray before = fileBytes(m_program->state().root.addressBookFile());
        pressRow(1);
        QCOMPARE(text("Text4"), u"b@example.jp"_s);
        QCOMPARE(text("Text2"), u"名前 b@example.jp"_s);
        QCOMPARE(status(), u"　選択しました。"_s);

        control<QLineEdit>("Text50")->setText(u"X"_s);
        Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
        click("Command4");
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().title, u"確認"_s);
        QCOMPARE(Prompt::shown().first().text, u"選択された（行、青色）データを削除します。よろしいですか"_s);
        QCOMPARE(m_program->state().currentRecordNumber, qint16(2));
        for (const char *box : {"Text2", "Text4", "Text50"})
            QVERIFY2(text(box).isEmpty(), box);

        const QByteArray after = fileBytes(m_program->state().root.addressBookFile());
        if (yes) {
            QCOMPARE(status(), u"削除が完了しました"_s);
            QCOMPARE(after.size(), 2 * AddressBookFile::RecordSize);
            QCOMPARE(after.mid(AddressBookFile::RecordSize), before.mid(2 * AddressBookFile::RecordSize));
            QCOMPARE(list()->topLevelItem(1)->text(0).trimmed(), u"c@example.jp"_s);
        } else {
            QCOMPARE(status(), u" "_s);
            QCOMPARE(after, before);
        }
        QCOMPARE(list()->topLevelItemCount(), yes ? 2 : 3);
        QCOMPARE(text("Text3"), QString::number(yes ? 2 : 3));
    }

    // A large book takes a while to compact: the window keeps handling
    // events (painting) meanwhile, under a busy pointer.
    void deleteKeepsThePaintingGoing()
    {
        store({u"a@example.jp"_s});
        QFile data(m_program->state().root.addressBookFile());
        QVERIFY(data.open(QIODevice::ReadWrite));
        QVERIFY(data.write(data.readAll().repeated(199999)) == 199999 * AddressBookFile::RecordSize);
        data.close();
        form()->show(); // reads the list
        pressRow(0);
        bool busyWhileDeleting = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor)
                busyWhileDeleting = true;
        });
        watch.start(0);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        click("Command4");
        watch.stop();
        QVERIFY(busyWhileDeleting);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(book().count(), 199999);
        QCOMPARE(status(), u"削除が完了しました"_s);
    }

    void nothingSelectedChangesNothing()
    {
        store({u"a@example.jp"_s, u"b@example.jp"_s});
        const QByteArray before = fileBytes(m_program->state().root.addressBookFile());

        // A row is selected but the address box is empty.
        pressRow(0);
        control<QLineEdit>("Text4")->clear();
        click("Command4");
        // An address is typed but no row is selected.
        list()->clearSelection();
        control<QLineEdit>("Text4")->setText(u"a@example.jp"_s);
        click("Command4");
        // A press that selects no row.
        Prompt::clearShown();
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, QPoint(5, list()->viewport()->height() - 3));
        QCOMPARE(list()->selectedItems().size(), 0);

        QCOMPARE(Prompt::shownTexts(), QStringList{u"データが選択されていません"_s});
        QCOMPARE(fileBytes(m_program->state().root.addressBookFile()), before);
        QCOMPARE(list()->topLevelItemCount(), 2);
        QCOMPARE(text("Text4"), u"a@example.jp"_s);
    }

    void nulInStoredFieldCutsListText()
    {
        QByteArray record = AddressBookFile::encode(AddressEntry{u"名前"_s, u"ab"_s});
        record[94 + 2] = '\0'; // the byte after "ab" in EntryAddress
        record[94 + 3] = 'z';
        QFile f(m_program->state().root.addressBookFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(record);
        f.close();
        QCOMPARE(list()->topLevelItem(0)->text(0), u"ab"_s);
        QCOMPARE(list()->topLevelItem(0)->text(1).trimmed(), u"名前"_s);
    }

    void typingIsLimitedButProgramTextsAreNot()
    {
        QLineEdit *address = control<QLineEdit>("Text4");
        QTest::keyClicks(address, QString(65, u'a'));
        QCOMPARE(address->text().size(), 60);
        QLineEdit *name = control<QLineEdit>("Text2");
        QTest::keyClicks(name, QString(35, u'b'));
        QCOMPARE(name->text().size(), 30);

        const QString sender = QString(70, u'c') + u"@example.jp"_s;
        form()->showWithAddress(sender);
        QCOMPARE(address->text(), sender);
        QVERIFY(form()->isVisible());
        // Editing a long text the program put there still works.
        address->setCursorPosition(0);
        QTest::keyClick(address, Qt::Key_Delete);
        QCOMPARE(address->text(), sender.mid(1));
    }

    void pasteButtonsReplaceBoxes()
    {
        QApplication::clipboard()->setText(u"コピー@example.jp"_s);
        control<QLineEdit>("Text4")->setText(u"old"_s);
        click("Command1");
        QCOMPARE(text("Text4"), u"コピー@example.jp"_s);
        click("Command5");
        QCOMPARE(text("Text2"), u"コピー@example.jp"_s);

        // Not past what typing may put there: refused whole, not cut.
        QApplication::clipboard()->setText(QString(61, u'a'));
        click("Command1");
        QCOMPARE(text("Text4"), u"コピー@example.jp"_s);
        QCOMPARE(Prompt::shownTexts(), QStringList{u"貼り付ける文字が長すぎます（61 文字あります。60 文字までです）。"_s});
    }

    void helpBoxFollowsPanelCheckBox_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::newRow("説明表示 on") << true;
        QTest::newRow("説明表示 off") << false;
    }
    void helpBoxFollowsPanelCheckBox()
    {
        QFETCH(bool, checked);
        m_program->windows().mainForm();
        auto *check = m_program->windows().loaded("MainForm")->findChild<QCheckBox *>(u"Check1"_s);
        QVERIFY(check);
        check->setChecked(checked);
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        auto *help = control<QPlainTextEdit>("Text5");
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(control<QPushButton>("Command4"), &enter);
        QCOMPARE(help->toPlainText(), u"不要になったメールアドレスを削除します。"_s);
        const bool seen = help->isVisible() && form()->rect().intersects(help->geometry());
        QCOMPARE(seen, checked);
        QMouseEvent move(QEvent::MouseMove, QPointF(form()->width() - 5, 5), form()->mapToGlobal(QPointF(form()->width() - 5, 5)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(form(), &move);
        QVERIFY(!help->isVisible());
    }

    // A typed name and address are not lost to a close, a row click or アドレス帳登録 without a word.
    void typedEntryIsAskedAbout_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<Prompt::Answer>("answer");
        QTest::addColumn<bool>("kept");
        QTest::newRow("close, キャンセル") << u"close"_s << Prompt::Answer::Cancel << true;
        QTest::newRow("close, 登録して閉じる") << u"close"_s << Prompt::Answer::Yes << false;
        QTest::newRow("row click, キャンセル") << u"row"_s << Prompt::Answer::Cancel << true;
        QTest::newRow("row click, 置き換える") << u"row"_s << Prompt::Answer::Yes << false;
        QTest::newRow("アドレス帳登録, キャンセル") << u"register"_s << Prompt::Answer::Cancel << true;
    }
    void typedEntryIsAskedAbout()
    {
        QFETCH(QString, action);
        QFETCH(Prompt::Answer, answer);
        QFETCH(bool, kept);
        store({u"a@example.jp"_s});
        form()->show();
        control<QLineEdit>("Text2")->setText(u"山田"_s);
        control<QLineEdit>("Text4")->setText(u"yamada@example.jp"_s);
        Prompt::clearShown();
        Prompt::queueAnswer(answer);
        if (action == u"close")
            form()->close();
        else if (action == u"row")
            pressRow(0);
        else
            form()->showWithAddress(u"sender@example.jp"_s);
        QCOMPARE(Prompt::shownTexts(), QStringList{AddressBookList::unregisteredQuestion()});
        if (kept) {
            QVERIFY(form()->isVisible());
            QCOMPARE(text("Text4"), u"yamada@example.jp"_s);
        } else if (action == u"close") {
            QVERIFY(!form()->isVisible());
            QCOMPARE(book().count(), 2);
        } else {
            QCOMPARE(text("Text4"), u"a@example.jp"_s);
        }
    }

    void closeShowsFloatingWindowsAndUnloads()
    {
        form()->show();
        m_program->windows().hideFloatingWindows();
        form()->close();
        for (int n = 1; n <= 5; ++n)
            QVERIFY(m_program->windows().loaded(("Form" + QByteArray::number(n)).constData())->isVisible());
        QTRY_VERIFY(!m_program->windows().isLoaded("FriendForm"));
    }
};

QTEST_MAIN(TestFriendForm)
#include "tst_friendform.moc"
