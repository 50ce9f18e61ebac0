#include "FakeWindows.h"

#include "compose/WriteForm.h"
#include "compose/logic/Greetings.h"
#include "compose/MailFields.h"
#include "compose/logic/HeldMailStore.h"
#include "compose/logic/UnsentDraftFile.h"
#include "storage/AddressBookFile.h"
#include "storage/AppState.h"
#include "storage/OwnSettings.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/WindowUtil.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestWriteForm : public QObject {
    Q_OBJECT
private slots:
    void init();
    void signatureOpensBelowAnEmptyBody();
    void cleanup();

    void loadStep();
    void helpBoxPlacement_data();
    void helpBoxPlacement();
    void hoverHelp();
    void widths();
    void paste();
    void holdWithEmptySubject();
    void holdAnswers_data();
    void holdAnswers();
    void holdTooLongBody_data();
    void holdTooLongBody();
    void holdAsksBeforeLosingCharacters_data();
    void holdAsksBeforeLosingCharacters();
    void recallAndLoadWholeBody();
    void loadWithoutSelection();
    void deleteHeld_data();
    void deleteHeld();
    void deleteWhileAddressBookShown();
    void panelToggleIsShared();
    void attachments();
    void cancelledFirstAttachment();
    void wholeAddressBookQuestion_data();
    void wholeAddressBookQuestion();
    void pickAddress();
    void greetingInsertedAtStartOnlyWhenChosen();
    void hiddenMode();
    void copiesAreShownAndRemovable();
    void closeShowsFloatingWindows();
    void toolbarRunsEditingCommands();

private:
    WriteForm *open();
    template <typename T> T *find(const QString &name) const
    {
        T *w = m_form->findChild<T *>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    void click(const QString &name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void pressRow(int row);
    int px(int twips) const { return qRound(twips * m_form->logicalDpiX() / 1440.0); }
    QColor listColour() const { return find<QListWidget>(u"List1"_s)->palette().color(QPalette::Base); }
    void addAddress(const QString &name, const QString &address);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<FakeWindows> m_windows;
    std::unique_ptr<WriteForm> m_form;
};

void TestWriteForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_state = std::make_unique<AppState>();
    m_state->root = DataRoot(m_dir->path());
    QVERIFY(m_state->root.ensureTree());
    m_windows = std::make_unique<FakeWindows>();
    Prompt::beginScript();
    Prompt::clearShown();
}

// A new mail starts with the signature under two empty lines; it is the
// program's text, so nothing is at risk, and a recovery file left by a
// crashed run stays for the program to bring back.
void TestWriteForm::signatureOpensBelowAnEmptyBody()
{
    QVERIFY(OwnSettings(m_state->root.hollinIniFile()).writeSender({}, u"山田 太郎\nyamada@example.jp"_s, nullptr));
    const UnsentDraftFile recovery(m_state->root, u"compose"_s);
    QVERIFY(recovery.save(MailDraft{u"a@example.jp"_s, u"件名"_s, u"書きかけ"_s, QString()}));
    WriteForm *form = open();
    QCOMPARE(form->findChild<QTextEdit *>(u"rtfEd"_s)->toPlainText(), u"\n\n山田 太郎\nyamada@example.jp"_s);
    QVERIFY(!form->fields().isAtRisk());
    QVERIFY(recovery.exists());
}

void TestWriteForm::cleanup()
{
    m_form.reset();
    // A closed window asks its owner to unload it once control is back in the event loop.
    QCoreApplication::sendPostedEvents();
    Prompt::endScript();
}

WriteForm *TestWriteForm::open()
{
    m_form = std::make_unique<WriteForm>(AppContext{*m_state, *m_windows});
    m_form->show();
    return m_form.get();
}

void TestWriteForm::addAddress(const QString &name, const QString &address)
{
    AddressBookFile book(m_state->root.addressBookFile(), m_state->root.addressBookTemp());
    QVERIFY(book.append({name, address}) > 0);
}

void TestWriteForm::pressRow(int row)
{
    auto *list = find<QListWidget>(u"List1"_s);
    list->setCurrentRow(row);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

void TestWriteForm::loadStep()
{
    addAddress(u"一郎"_s, u"ichiro@example.jp"_s);
    addAddress(u"二郎"_s, u"jiro@example.jp"_s);
    open();
    QCOMPARE(m_form->windowTitle(), u"新規作成"_s);
    auto *list1 = find<QListWidget>(u"List1"_s);
    QCOMPARE(list1->count(), 2);
    QCOMPARE(list1->item(0)->text().trimmed(), u"一郎"_s);
    QCOMPARE(find<QLineEdit>(u"Text1"_s)->text(), u"2"_s);
    QVERIFY(find<QWidget>(u"Picture7"_s)->isHidden());
    QVERIFY(find<QWidget>(u"List2"_s)->isHidden());
    QVERIFY(find<QPushButton>(u"Command2"_s)->isHidden());
    QVERIFY(!find<QPushButton>(u"Command9"_s)->isEnabled());
    QVERIFY(find<QLineEdit>(u"ToText"_s)->isEnabled());
    QCOMPARE(listColour(), QColor(Qt::white));
    auto *combo = find<QComboBox>(u"Combo1"_s);
    QCOMPARE(combo->count(), 8);
    QCOMPARE(combo->itemText(3), u"いつもお世話になっております。"_s);
    QCOMPARE(combo->currentText(), QString());
    QCOMPARE(find<QPushButton>(u"Command3"_s)->text(), u"    送信中止"_s);
    QCOMPARE(find<QPushButton>(u"Command8"_s)->text(), u"　　絵・顔文字"_s);
    QCOMPARE(m_form->width(), px(7100));
}

void TestWriteForm::helpBoxPlacement_data()
{
    QTest::addColumn<int>("panelCheck"); // -1: no panel check box
    QTest::addColumn<int>("topTwips");   // -1: the designed place
    QTest::newRow("help on") << int(Qt::Checked) << 3600;
    QTest::newRow("help off") << int(Qt::Unchecked) << -4000;
    QTest::newRow("other value") << int(Qt::PartiallyChecked) << -1;
    QTest::newRow("no panel") << -1 << -1;
}

void TestWriteForm::helpBoxPlacement()
{
    QFETCH(int, panelCheck);
    QFETCH(int, topTwips);
    QWidget panel;
    auto *check = new QCheckBox(&panel);
    check->setObjectName(u"Check1"_s);
    check->setTristate(true);
    if (panelCheck >= 0) {
        check->setCheckState(Qt::CheckState(panelCheck));
        m_windows->widgets.insert("MainForm", &panel);
    }
    open();
    const int top = find<QPlainTextEdit>(u"Text14"_s)->y();
    if (topTwips == -1) {
        QVERIFY(top > px(3600));
        QVERIFY(top < m_form->height());
    } else {
        QCOMPARE(top, px(topTwips));
    }
}

void TestWriteForm::hoverHelp()
{
    open();
    auto *help = find<QPlainTextEdit>(u"Text14"_s);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(find<QPushButton>(u"Command15"_s), &enter);
    QVERIFY(help->isVisible());
    QCOMPARE(help->toPlainText(), u"保留（保存）扱いとしていたメールデータの削除を１件単位で行います。"_s);
    QApplication::sendEvent(find<QTextEdit>(u"rtfEd"_s), &enter);
    QVERIFY(!help->isVisible());
}

void TestWriteForm::widths()
{
    addAddress(u"一郎"_s, u"ichiro@example.jp"_s);
    m_state->sideListMode = 10;
    open();
    click(u"Command4"_s);
    QCOMPARE(m_form->width(), px(9700));
    QCOMPARE(m_state->sideListMode, qint16(0));
    click(u"Command4"_s);
    auto *list1 = find<QListWidget>(u"List1"_s);
    QCOMPARE(list1->count(), 1);
    QCOMPARE(find<QLineEdit>(u"Text1"_s)->text(), u"1"_s);

    click(u"Command6"_s);
    QCOMPARE(m_form->width(), px(7100));
    // Narrowing only hides the list behind the edge; it stays filled.
    QCOMPARE(list1->count(), 1);
    QVERIFY(!list1->isHidden());

    // The longest status of a send is shown whole.
    SendResult stopped;
    stopped.passes = 12;
    stopped.attempted = 10;
    stopped.failures = {SendFailure{10, u"a@example.jp"_s, u"timeout"_s}};
    stopped.stoppedAtConnection = true;
    auto *status = find<QLabel>(u"Label7"_s);
    status->setText(stopped.statusText());
    const QSize needed = status->wordWrap() ? QSize(status->width(), status->heightForWidth(status->width()))
                                            : status->sizeHint();
    QVERIFY2(needed.width() <= status->width() && needed.height() <= status->height(), qPrintable(status->text()));
    QVERIFY(status->geometry().bottom() < m_form->height());
}

void TestWriteForm::paste()
{
    open();
    QGuiApplication::clipboard()->setText(u"  貼付 "_s);
    auto *to = find<QLineEdit>(u"ToText"_s);
    to->setText(u"abXYcd"_s);
    to->setSelection(2, 2);
    click(u"Command7"_s);
    QCOMPARE(to->text(), u"ab貼付cd"_s);

    auto *body = find<QTextEdit>(u"rtfEd"_s);
    body->setPlainText(u"前後"_s);
    QTextCursor cursor = body->textCursor();
    cursor.setPosition(1);
    body->setTextCursor(cursor);
    click(u"Command5"_s);
    QCOMPARE(body->toPlainText(), u"前貼付後"_s);

    m_form->insertIntoBody(u"(^_^)"_s);
    QCOMPARE(body->toPlainText(), u"前貼付(^_^)後"_s);

    // The selection made in ToText counts, though the button takes the focus.
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    to->setText(u"abXYcd"_s);
    to->setFocus();
    to->setSelection(2, 2);
    find<QPushButton>(u"Command7"_s)->setFocus(Qt::MouseFocusReason);
    click(u"Command7"_s);
    QCOMPARE(to->text(), u"ab貼付cd"_s);

    // What does not fit is not cut: the box says so and the address stays.
    to->setText(QString(249, u'a'));
    click(u"Command7"_s);
    QCOMPARE(to->text(), QString(249, u'a'));
    QCOMPARE(Prompt::shownTexts(), QStringList{u"宛先に入りきりません（250 文字まで）。"_s});
}

void TestWriteForm::holdWithEmptySubject()
{
    open();
    find<QLineEdit>(u"ToText"_s)->setText(u"a@example.jp"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"本文"_s);
    click(u"Command13"_s);
    QCOMPARE(Prompt::shownTexts(), QStringList{u"件名が空白です。保存出来ません。"_s});
    QCOMPARE(HeldMailStore(m_state->root).count(), 0);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText(), u"本文"_s);
}

void TestWriteForm::holdAnswers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestWriteForm::holdAnswers()
{
    QFETCH(bool, yes);
    open();
    auto *to = find<QLineEdit>(u"ToText"_s);
    auto *subject = find<QLineEdit>(u"SubjectText"_s);
    auto *body = find<QTextEdit>(u"rtfEd"_s);
    to->setText(u" a@example.jp "_s);
    subject->setText(u"保留テスト"_s);
    body->setPlainText(u"本文です。"_s);
    Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    click(u"Command13"_s);
    QCOMPARE(Prompt::shownTexts(), QStringList{HeldMailStore::holdQuestion()});

    HeldMailStore store(m_state->root);
    if (!yes) {
        QCOMPARE(store.count(), 0);
        QCOMPARE(subject->text(), u"保留テスト"_s);
        QCOMPARE(body->toPlainText(), u"本文です。"_s);
        return;
    }
    QCOMPARE(store.count(), 1);
    HeldMail held;
    QVERIFY(store.load(1, &held));
    QCOMPARE(held.to, u"a@example.jp"_s);
    QCOMPARE(held.body, u"本文です。"_s);
    // The hold clears what it kept and shows the held list.
    QCOMPARE(to->text(), QString());
    QCOMPARE(subject->text(), QString());
    QCOMPARE(body->toPlainText(), QString());
    QCOMPARE(m_state->sideListMode, qint16(10));
    QCOMPARE(m_state->currentRecordNumber, qint16(1));
    auto *list1 = find<QListWidget>(u"List1"_s);
    QCOMPARE(list1->count(), 1);
    QCOMPARE(list1->item(0)->text().trimmed(), u"保留テスト"_s);
    QCOMPARE(find<QLineEdit>(u"Text1"_s)->text(), u"1"_s);
    QCOMPARE(listColour(), QColor(206, 240, 244));
    QCOMPARE(find<QPushButton>(u"Command17"_s)->text(), u"　アドレス呼出"_s);
    QCOMPARE(m_form->width(), px(9700));
}

void TestWriteForm::holdTooLongBody_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("yes");
    const QString longBody = u"本文が長すぎるため、32000バイトを超える部分は保存されません。保存しますか？"_s;
    const QString longSubject = u"件名が長すぎるため、100バイトを超える部分は保存されません。保存しますか？"_s;
    QTest::newRow("body: keep the beginning") << u"長文"_s << QString(16001, u'あ') << longBody << true;
    QTest::newRow("body: decline") << u"長文"_s << QString(16001, u'あ') << longBody << false;
    QTest::newRow("subject: keep the beginning") << QString(51, u'件') << u"本文"_s << longSubject << true;
    QTest::newRow("subject: decline") << QString(51, u'件') << u"本文"_s << longSubject << false;
}

void TestWriteForm::holdTooLongBody()
{
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, question);
    QFETCH(bool, yes);
    open();
    find<QLineEdit>(u"SubjectText"_s)->setText(subject);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(body);
    Prompt::queueAnswer(Prompt::Answer::Yes);
    Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    click(u"Command13"_s);
    QCOMPARE(Prompt::shownTexts(), (QStringList{HeldMailStore::holdQuestion(), question}));
    QCOMPARE(HeldMailStore(m_state->root).count(), yes ? 1 : 0);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText().isEmpty(), yes);
}

void TestWriteForm::holdAsksBeforeLosingCharacters_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("keep writing") << false;
    QTest::newRow("hold with 〓") << true;
}

void TestWriteForm::holdAsksBeforeLosingCharacters()
{
    QFETCH(bool, yes);
    open();
    find<QLineEdit>(u"SubjectText"_s)->setText(u"絵文字😀"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"𠮷野家で😀"_s);
    Prompt::queueAnswer(Prompt::Answer::Yes);
    Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    click(u"Command13"_s);
    QCOMPARE(Prompt::shownTexts(), (QStringList{HeldMailStore::holdQuestion(), cp932LossQuestion(u"😀𠮷"_s)}));
    HeldMailStore store(m_state->root);
    QCOMPARE(store.count(), yes ? 1 : 0);
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text().isEmpty(), yes);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText().isEmpty(), yes);
    HeldMail held;
    QCOMPARE(store.load(1, &held), yes);
    QCOMPARE(held.body, yes ? u"〓野家で〓"_s : QString());
}

void TestWriteForm::recallAndLoadWholeBody()
{
    HeldMailStore store(m_state->root);
    const QString longBody = QString(5000, u'長');
    store.hold({u"first@example.jp"_s, u"一通目"_s, u"短い本文"_s});
    store.hold({u"second@example.jp"_s, u"二通目"_s, longBody});
    open();
    click(u"Command14"_s);
    QCOMPARE(m_state->sideListMode, qint16(10));
    auto *list1 = find<QListWidget>(u"List1"_s);
    QCOMPARE(list1->count(), 2);
    QCOMPARE(list1->item(1)->text(), u"二通目"_s); // without the record's padding
    QCOMPARE(find<QLabel>(u"Label4"_s)->text(), u"保留メール"_s);
    QCOMPARE(find<QLineEdit>(u"Text1"_s)->text(), u"2"_s);
    QCOMPARE(find<QPushButton>(u"Command17"_s)->palette().color(QPalette::Button), QColor(255, 255, 0));

    pressRow(1);
    QVERIFY(Prompt::shownTexts().isEmpty());
    QCOMPARE(find<QLineEdit>(u"Text2"_s)->text(), u"1"_s);
    QCOMPARE(find<QLineEdit>(u"ToText"_s)->text(), u"second@example.jp"_s);
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), u"二通目"_s);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText(), longBody);
    QCOMPARE(store.count(), 2);
}

void TestWriteForm::loadWithoutSelection()
{
    HeldMailStore(m_state->root).hold({u"a"_s, u"s"_s, u"b"_s});
    open();
    click(u"Command14"_s);
    auto *list1 = find<QListWidget>(u"List1"_s);
    QTest::mousePress(list1->viewport(), Qt::LeftButton, {}, QPoint(5, list1->viewport()->height() - 5));
    QCOMPARE(Prompt::shownTexts(), QStringList{u"データが選択されていません"_s});
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), QString());
}

void TestWriteForm::deleteHeld_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestWriteForm::deleteHeld()
{
    QFETCH(bool, yes);
    HeldMailStore store(m_state->root);
    for (const QString &s : {u"一"_s, u"二"_s, u"三"_s})
        store.hold({s + u"@example.jp"_s, s, s + u"の本文"_s});
    open();
    click(u"Command14"_s);
    pressRow(1);
    find<QTextEdit>(u"rtfEd"_s)->append(u"追記"_s);
    Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    click(u"Command15"_s);
    QCOMPARE(Prompt::shownTexts(), QStringList{u"選択された（行、青色）データを削除します。よろしいですか"_s});
    QCOMPARE(find<QLineEdit>(u"Text2"_s)->text(), QString());
    QCOMPARE(find<QPushButton>(u"Command17"_s)->text(), u"　アドレス呼出"_s);

    auto *list1 = find<QListWidget>(u"List1"_s);
    if (!yes) {
        // Declining deletes nothing and keeps what was typed.
        QCOMPARE(store.count(), 3);
        QCOMPARE(list1->count(), 3);
        QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText(), u"二の本文\n追記"_s);
        return;
    }
    QCOMPARE(store.count(), 2);
    HeldMail second;
    QVERIFY(store.load(2, &second));
    QCOMPARE(second.subject, u"三"_s);
    QCOMPARE(list1->count(), 2);
    QCOMPARE(list1->item(1)->text().trimmed(), u"三"_s);
    QCOMPARE(find<QLineEdit>(u"Text1"_s)->text(), u"2"_s);
    // The held mail went, not what was typed after it was loaded.
    QCOMPARE(find<QLineEdit>(u"ToText"_s)->text(), u"二@example.jp"_s);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText(), u"二の本文\n追記"_s);
    QCOMPARE(m_state->currentRecordNumber, qint16(2));
}

void TestWriteForm::deleteWhileAddressBookShown()
{
    HeldMailStore store(m_state->root);
    store.hold({u"a"_s, u"s"_s, u"b"_s});
    addAddress(u"一郎"_s, u"ichiro@example.jp"_s);
    open();
    pressRow(0);
    QCOMPARE(find<QLineEdit>(u"Text2"_s)->text(), u"1"_s);
    click(u"Command15"_s);
    QVERIFY(Prompt::shownTexts().isEmpty());
    QCOMPARE(store.count(), 1);
    QCOMPARE(find<QLineEdit>(u"Text2"_s)->text(), QString());
    QCOMPARE(find<QPushButton>(u"Command17"_s)->text(), u"　アドレス呼出"_s);
}

void TestWriteForm::panelToggleIsShared()
{
    open();
    auto *panel = find<QWidget>(u"Picture7"_s);
    click(u"Command17"_s);
    QVERIFY(panel->isVisible());
    QCOMPARE(find<QPushButton>(u"Command17"_s)->text(), u"　アドレス呼出"_s);
    QCOMPARE(m_state->heldPanelToggleCount, qint16(1));
    // The reply window's button counts too: its click sets this window's phase.
    m_state->heldPanelToggleCount = 3;
    click(u"Command17"_s);
    QVERIFY(!panel->isVisible());
    QCOMPARE(find<QPushButton>(u"Command17"_s)->text(), u"下書き"_s);
    QCOMPARE(m_state->heldPanelToggleCount, qint16(4));
}

void TestWriteForm::attachments()
{
    m_state->listToggleCount = 0;
    open();
    QTemporaryDir files;
    QStringList paths;
    for (const QString &name : {u"添付/一.txt"_s, u"b.pdf"_s, u"c d/三.jpg"_s}) {
        paths << files.filePath(name);
        QVERIFY(QDir().mkpath(QFileInfo(paths.last()).path()));
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const QString &p : paths)
        Prompt::queueFileName(p);
    click(u"AttachCommand"_s);
    QVERIFY(!find<QPushButton>(u"AttachCommand"_s)->isEnabled());
    QVERIFY(find<QPushButton>(u"Command9"_s)->isEnabled());
    click(u"Command9"_s);
    click(u"Command9"_s);
    auto *attach = find<QLineEdit>(u"AttachText"_s);
    QCOMPARE(attach->text(), paths.mid(0, 3).join(u','));
    auto *list2 = find<QListWidget>(u"List2"_s);
    QCOMPARE(list2->count(), 3);
    QCOMPARE(list2->item(2)->text(), u"三.jpg"_s);
    QVERIFY(list2->isVisible());

    // What could never be sent is refused when picked, with the reason.
    Prompt::clearShown();
    Prompt::queueFileName(u"/dev/zero"_s);
    click(u"Command9"_s);
    QVERIFY2(Prompt::shownTexts().last().contains(u"普通のファイルではない"_s), qPrintable(Prompt::shownTexts().join(u" | "_s)));
    Prompt::clearShown();
    QCOMPARE(list2->count(), 3);

    // The first press of the program run hides the list, the next shows it.
    auto *toggle = find<QPushButton>(u"Command16"_s);
    click(u"Command16"_s);
    QVERIFY(!list2->isVisible());
    QCOMPARE(toggle->text(), u"非表示"_s);
    QCOMPARE(toggle->palette().color(QPalette::Button), QColor(255, 255, 0));
    click(u"Command16"_s);
    QVERIFY(list2->isVisible());
    QCOMPARE(toggle->text(), u"表示"_s);
    QCOMPARE(toggle->palette().color(QPalette::Button), QColor(192, 192, 192));
    QCOMPARE(attach->text(), paths.mid(0, 3).join(u','));
    QCOMPARE(m_state->listToggleCount, qint16(2));

    click(u"Command10"_s);
    QCOMPARE(attach->text(), QString());
    QCOMPARE(list2->count(), 0);
    QVERIFY(!list2->isVisible());
    QVERIFY(!find<QPushButton>(u"Command9"_s)->isEnabled());
    QVERIFY(!find<QPushButton>(u"Command10"_s)->isEnabled());
    QVERIFY(find<QPushButton>(u"AttachCommand"_s)->isEnabled());
}

void TestWriteForm::cancelledFirstAttachment()
{
    // After one 取り消し and one refused file, 追加 still attaches.
    open();
    click(u"Command10"_s);
    Prompt::queueFileName(u"/dev/zero"_s);
    click(u"AttachCommand"_s);
    QVERIFY(!find<QPushButton>(u"AttachCommand"_s)->isEnabled());
    QTemporaryDir files;
    const QString path = files.filePath(u"一.txt"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    Prompt::queueFileName(path);
    click(u"Command9"_s);
    QCOMPARE(find<QLineEdit>(u"AttachText"_s)->text(), path);
    QVERIFY(find<QPushButton>(u"Command10"_s)->isEnabled());
}

void TestWriteForm::wholeAddressBookQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestWriteForm::wholeAddressBookQuestion()
{
    QFETCH(bool, yes);
    open();
    auto *to = find<QLineEdit>(u"ToText"_s);
    to->setText(u"typed@example.jp"_s);
    Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    QTest::mouseClick(find<QRadioButton>(u"Option2"_s), Qt::LeftButton);
    const QList<Prompt::Shown> shown = Prompt::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().title, u"確認"_s);
    QCOMPARE(shown.first().text, u"アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。\r\n\r\n件名、本文入力完了後、送信ボタンをクリックして下さい。"_s);
    // Declined, the typed recipients stay.
    QCOMPARE(to->text(), yes ? QString() : u"typed@example.jp"_s);
    QCOMPARE(find<QRadioButton>(u"Option2"_s)->isChecked(), yes);
    QCOMPARE(to->isEnabled(), !yes);
    QCOMPARE(to->palette().color(QPalette::Base), yes ? QColor(213, 239, 255) : QColor(Qt::white));
    QCOMPARE(listColour(), yes ? QColor(0, 128, 0) : QColor(Qt::white));
    // Readable on the dark green.
    QCOMPARE(find<QListWidget>(u"List1"_s)->palette().color(QPalette::Text), yes ? QColor(Qt::white) : QColor(Qt::black));

    if (yes) {
        QTest::mouseClick(find<QRadioButton>(u"Option1"_s), Qt::LeftButton);
        QVERIFY(to->isEnabled());
        QCOMPARE(listColour(), QColor(Qt::white));
        QCOMPARE(to->text(), u"typed@example.jp"_s); // 取消 brings them back
        QTest::mouseClick(find<QRadioButton>(u"Option1"_s), Qt::LeftButton);
        QCOMPARE(to->text(), u"typed@example.jp"_s);
    }
}

void TestWriteForm::pickAddress()
{
    const QString longAddress = QString(58, u'a') + u"@example.jp"_s; // 70 characters
    addAddress(u"長い"_s, longAddress);
    addAddress(u"名刺"_s, AddressBookFile::businessCardForm(u"山田"_s, u"yamada@example.jp"_s));
    open();
    auto *to = find<QLineEdit>(u"ToText"_s);
    pressRow(0);
    QCOMPARE(to->text(), longAddress); // whole: a cut one is another address
    pressRow(1);
    QCOMPARE(to->text(), longAddress + u", 山田<yamada@example.jp>"_s);
    pressRow(0); // already there
    QCOMPARE(to->text(), longAddress + u", 山田<yamada@example.jp>"_s);
    QVERIFY(Prompt::shownTexts().isEmpty());
    to->setText(QString(240, u'b'));
    pressRow(1);
    QCOMPARE(to->text(), QString(240, u'b'));
    QCOMPARE(Prompt::shownTexts(), QStringList{u"宛先に入りきりません（250 文字まで）。"_s});
}

void TestWriteForm::greetingInsertedAtStartOnlyWhenChosen()
{
    open();
    auto *combo = find<QComboBox>(u"Combo1"_s);
    auto *body = find<QTextEdit>(u"rtfEd"_s);
    body->setPlainText(u"前の本文"_s);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(combo, &out); // only passing through
    QCOMPARE(body->toPlainText(), u"前の本文"_s);

    combo->setCurrentIndex(3);
    emit combo->activated(3);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(combo, &popup);
    QCOMPARE(body->toPlainText(), u"前の本文"_s);
    QApplication::sendEvent(combo, &out);
    QCOMPARE(body->toPlainText(), u"いつもお世話になっております。\n前の本文"_s);
    QApplication::sendEvent(combo, &out); // leaving again inserts nothing more
    QCOMPARE(body->toPlainText(), u"いつもお世話になっております。\n前の本文"_s);
    find<QAction>(u"Undo"_s)->trigger();
    QCOMPARE(body->toPlainText(), u"前の本文"_s);
}

void TestWriteForm::hiddenMode()
{
    open();
    auto *label7 = find<QLabel>(u"Label7"_s);
    const int height = m_form->height();
    find<QLineEdit>(u"ToText"_s)->setText(u"abcd"_s);
    QTest::mouseDClick(label7, Qt::LeftButton);
    QCOMPARE(m_form->height(), height);
    QVERIFY(find<QPushButton>(u"Command2"_s)->isHidden());

    find<QLineEdit>(u"ToText"_s)->setText(Greetings::codeWord());
    QTest::mouseDClick(label7, Qt::LeftButton);
    QCOMPARE(m_form->height(), px(8955));
    QVERIFY(!find<QPushButton>(u"Command2"_s)->isHidden());
    QGuiApplication::clipboard()->setText(u"秘密"_s);
    click(u"Command2"_s);
    QCOMPARE(find<QLineEdit>(u"Text4"_s)->text(), u"秘密"_s);
}

// The copies a link brought are seen whole, each on its own line, and what
// the boxes hold is what the mail keeps and sends.
void TestWriteForm::copiesAreShownAndRemovable()
{
    open();
    MailDraft mail{u"to@example.jp"_s, u"s"_s, u"b"_s};
    mail.cc = u"first@example.jp, second@example.jp"_s;
    mail.bcc = u"hidden@example.jp"_s;
    m_form->restoreDraft(mail);
    auto *cc = find<QLineEdit>(u"CcText"_s);
    auto *bcc = find<QLineEdit>(u"BccText"_s);
    for (QLineEdit *box : {cc, bcc}) {
        QVERIFY(box->isVisible() && !box->isReadOnly());
        QVERIFY(widthToShow(box, box->text()) <= box->width());
    }
    QCOMPARE(cc->text(), mail.cc);
    QCOMPARE(bcc->text(), mail.bcc);
    QVERIFY(bcc->geometry().top() > cc->geometry().bottom());
    QVERIFY(m_form->rtfEd()->geometry().top() > bcc->geometry().bottom());
    bcc->clear();
    QCOMPARE(m_form->fields().draft().cc, mail.cc);
    QVERIFY(m_form->fields().draft().bcc.isEmpty());
    // A mail without copies gives the body its place back.
    m_form->restoreDraft(MailDraft{u"to@example.jp"_s, u"s"_s, u"b"_s});
    QVERIFY(!cc->isVisible() && !bcc->isVisible());
    QCOMPARE(m_form->rtfEd()->y(), px(2720));
}

void TestWriteForm::closeShowsFloatingWindows()
{
    open();
    click(u"Command3"_s);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_windows->shown, 1);
    QTRY_COMPARE(m_windows->unloaded, QByteArrayList{"WriteForm"});
    QVERIFY(Prompt::shownTexts().isEmpty()); // nothing typed, nothing asked
}

void TestWriteForm::toolbarRunsEditingCommands()
{
    open();
    auto *body = find<QTextEdit>(u"rtfEd"_s);
    body->setPlainText(u"太字にする"_s);
    body->selectAll();
    find<QAction>(u"Bold"_s)->trigger();
    QCOMPARE(m_state->boldCount, qint16(1));
    QVERIFY(body->document()->defaultFont().bold());
    // Every command has its button in the bar, none hides in the overflow.
    QToolBar *bar = m_form->tbToolBar();
    for (QAction *action : bar->actions())
        QVERIFY2(bar->widgetForAction(action)->isVisible(), qPrintable(action->text()));
}

QTEST_MAIN(TestWriteForm)
#include "tst_write_form.moc"
