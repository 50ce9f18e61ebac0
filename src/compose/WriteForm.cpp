#include "WriteForm.h"

#include "WriteFormLayout.h"

#include "AttachmentPanel.h"
#include "HeldMailPanel.h"
#include "MailFields.h"

#include "compose/logic/Greetings.h"
#include "compose/logic/HeldMailStore.h"
#include "compose/logic/Signature.h"
#include "compose/logic/SendJob.h"
#include "editor/EditorCommands.h"
#include "storage/AddressBookFile.h"
#include "storage/AppState.h"
#include "storage/OwnSettings.h"
#include "storage/TextUtil.h"
#include "transport/RecipientList.h"
#include "winutil/MailSearchBar.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Windows.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Widths of the window in twips: with the side list, and without it.
constexpr int WideTwips = 9700;
constexpr int NarrowTwips = 7100;
constexpr int DesignedHeightTwips = 7950;
constexpr int HiddenModeHeightTwips = 8955;
constexpr int HelpTopTwips = 3600;
constexpr int HelpOffTopTwips = -4000;
constexpr qint16 HeldListMode = 10;

const QColor White(255, 255, 255);
const QColor HeldListColour(206, 240, 244);
const QColor Green(0, 128, 0);        // basic colour 2
const QColor Yellow(255, 255, 0);     // basic colour 14
const QColor LightGrey(192, 192, 192);
const QColor WholeBookToColour(213, 239, 255);

void setBackground(QWidget *w, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

} // namespace

WriteForm::WriteForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_ui(this)
{
    setObjectName(u"WriteForm"_s);
    setWindowTitle(u"新規作成"_s);
    wireControls();
    resize(m_ui.px(NarrowTwips), m_ui.px(DesignedHeightTwips));

    m_ui.picture7->hide();
    setListBackground(White);
    setBackground(m_ui.toText, QPalette::Base, White);
    m_ui.toText->setEnabled(true);
    m_ui.list1->setEnabled(true);
    m_ui.list2->hide();
    m_recordMap = {0};
    m_ui.combo1->addItems(Greetings::phrases());
    // The list opens as wide as its longest phrase.
    m_ui.combo1->view()->setMinimumWidth(m_ui.combo1->view()->sizeHintForColumn(0)
                                         + m_ui.combo1->view()->verticalScrollBar()->sizeHint().width());
    m_ui.combo1->setCurrentIndex(-1);
    m_ui.combo1->clearEditText();
    m_ui.option2->setEnabled(true);
    placeHelpBox();
    loadAddressList();
    const QString signature = OwnSettings(m_ctx.state.root.hollinIniFile()).signature();
    if (!signature.isEmpty())
        m_fields->prefillBody(bodyWithSignature({}, signature));
}

WriteForm::~WriteForm() = default;

void WriteForm::wireControls()
{
    EditorCommands *commands = attachEditorCommands(m_ctx.state, m_ui.tbToolBar, m_ui.rtfEd, this,
                                                    EditorCommands::Host::Compose);
    // Searching the held mails hides the other rows, so every row keeps its record number.
    m_ui.searchBar->setFile(m_ctx.state.root.heldMailFile());
    const auto showHeldRows = [this](bool show) {
        m_ui.list1->clearSelection();
        for (int row = 0; row < m_ui.list1->count(); ++row)
            m_ui.list1->setRowHidden(row, !show && m_ctx.state.sideListMode == HeldListMode);
    };
    connect(m_ui.searchBar, &MailSearchBar::started, this, [showHeldRows] { showHeldRows(false); });
    connect(m_ui.searchBar, &MailSearchBar::cleared, this, [showHeldRows] { showHeldRows(true); });
    connect(m_ui.searchBar, &MailSearchBar::found, this, [this](const QList<int> &records) {
        for (const int n : records)
            if (m_ctx.state.sideListMode == HeldListMode && m_held->recordAt(n - 1) == n)
                m_ui.list1->setRowHidden(n - 1, false);
    });

    m_attachments = new AttachmentPanel(this, {m_ui.attachText, m_ui.list2, m_ui.attachCommand, m_ui.command9,
                                               m_ui.command10});
    m_fields = new MailFields(this, m_ui.toText, m_ui.subjectText, m_ui.rtfEd, m_attachments,
                              UnsentDraftFile(m_ctx.state.root, u"compose"_s));
    m_fields->setExtras({[this](MailDraft *draft) {
                             draft->cc = m_ui.ccText->text();
                             draft->bcc = m_ui.bccText->text();
                             draft->wholeBook = m_ui.option2->isChecked();
                             if (draft->wholeBook)
                                 draft->to = m_toBeforeWholeBook;
                         },
                         [this](const MailDraft &mail) {
                             setCopies(mail.cc, mail.bcc);
                             setWholeBook(mail.wholeBook, mail.to);
                         }});
    m_held = new HeldMailPanel(this, m_ctx.state, *m_fields, {m_ui.list1, m_ui.text1, m_ui.text2, m_ui.searchBar});
    commands->setMayReplaceBody([this] { return m_fields->mayReplace(); });

    connect(m_ui.command1, &QPushButton::clicked, this, &WriteForm::send);
    connect(m_ui.command3, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui.command4, &QPushButton::clicked, this, &WriteForm::showAddressBook);
    connect(m_ui.command6, &QPushButton::clicked, this, &WriteForm::narrow);
    connect(m_ui.command5, &QPushButton::clicked, this, &WriteForm::pasteIntoBody);
    connect(m_ui.command7, &QPushButton::clicked, this, &WriteForm::pasteIntoRecipient);
    connect(m_ui.command8, &QPushButton::clicked, this, &WriteForm::showEmoticons);
    connect(m_ui.command17, &QPushButton::clicked, this, &WriteForm::togglePanel);
    connect(m_ui.command13, &QPushButton::clicked, this, &WriteForm::hold);
    connect(m_ui.command14, &QPushButton::clicked, this, &WriteForm::recall);
    connect(m_ui.command15, &QPushButton::clicked, this, &WriteForm::deleteHeld);
    connect(m_ui.command16, &QPushButton::clicked, this, &WriteForm::toggleAttachmentList);
    connect(m_ui.option2, &QRadioButton::clicked, this, &WriteForm::wholeAddressBookMode);
    connect(m_ui.option1, &QRadioButton::clicked, this, &WriteForm::normalMode);
    connect(m_ui.command2, &QPushButton::clicked, this, [this] {
        m_ui.text4->setText(QGuiApplication::clipboard()->text());
    });
    connect(m_ui.list1, &QListWidget::pressed, this, &WriteForm::listPressed);

    m_ui.list1->viewport()->installEventFilter(this);
    m_ui.combo1->installEventFilter(this);
    // Only a phrase picked from the list goes into the body, not a mere pass of the focus.
    connect(m_ui.combo1, &QComboBox::activated, this, [this] { m_greetingChosen = true; });
    m_ui.toText->installEventFilter(this);
    connect(m_ui.toText, &QLineEdit::textChanged, this, [this] {
        if (!m_ui.toText->hasFocus())
            m_toSelection = {}; // set from outside: the remembered place means nothing now
    });
    m_ui.label7->installEventFilter(this);

    const QString cr = u"\n"_s;
    const QString labelHelp = u"本文の冒頭に例文を貼り付けます。プルダウンから選択し、本文をクリックすると内容が貼り付けられます。"_s;
    m_help = {
        {m_ui.command1, u"送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"_s},
        {m_ui.command3, u"送信を中止します。"_s},
        {m_ui.command4, u"このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。送信したい名称をクリックすると、メールアドレスが自動的に入力されます。"_s},
        {m_ui.command6, u"アドレス帳を含むサイズから、元のサイズに戻します。"_s},
        {m_ui.command5, u"コピーした内容を本文に貼り付けますコピーは本ソフト、あるいは別のアプリからでも可能です。"_s},
        {m_ui.command7, u"コピーした内容を宛先に貼り付けます。コピーは本ソフト、あるいは別のアプリからでも可能です。"_s},
        {m_ui.command8, u"顔・絵文字の本文への挿入を行います。"_s + cr + cr
             + u"使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、「新規作成本文に挿入」ボタンを。"_s
             + u"クリックしますと、本分中に挿入されます。"_s + cr + cr
             + u"素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。画面を終了させると自動的に保存されます。"_s + cr
             + u"上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良いでしょう。"_s + cr
             + u"お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態にし、顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい。"_s},
        {m_ui.command13, u"記入途中、あるいは書き終えたメールを保留（保存）とします。書き溜めておいて後でまとめて送信する場合に便利です。"_s},
        {m_ui.command14, u"保留（保存）扱いとしておいたメールデータを呼び出します。呼び出されたメールデータは右側のアドレス欄に件名のみが表示されます。マウスで選択すると、メールアドレス、件名、本文に自動的に挿入されます。"_s},
        {m_ui.command15, u"保留（保存）扱いとしていたメールデータの削除を１件単位で行います。"_s},
        {m_ui.command17, u"「下書き機能」です。予め作成しておいた「ひな型」を使用すれば非常に迅速にメールが書けます。"_s},
        {m_ui.attachCommand, u"各種ファイルを添付して送信できます。１個の添付ファイルの際に使用します。"_s + cr
             + u"２個目からは「追加」ボタンをクリックして下さい。一覧リストが表示されます。送信メール１件について１０個までの送信が可能です。"_s + cr
             + u"添付ファイルを中止したい時は「取り消し」ボタンをクリック！"_s + cr
             + u"添付ファイルを複数選択した際に表示される一覧リストが邪魔なときは「リスト」をクリックして下さい。一覧リストの一時的な表示・非表示が出来ます。表示・非表示を行うだけで、選択したファイルが取り消される訳ではありません。"_s},
        {m_ui.command9, u"添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。"_s},
        {m_ui.command10, u"添付ファイルの内容をクリアします。"_s},
        {m_ui.command16, u"添付ファイルを複数選択した際、リストが自動的に表示されます。このリストの表示、非表示を操作します。リストが非表示になっても、選択したファイルがクリアされた訳ではありません。クリアする場合は「取り消し」か「クリア」をクリックして下さい。"_s},
        {m_ui.check1, u"コンピュータがアトランダムにチョイスする占いを本文後に添付します。"_s},
        {m_ui.option2, u"アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。"_s + cr + cr
             + u"件名、本文入力完了後、送信ボタンをクリックして下さい。"_s},
        {m_ui.toLabel, labelHelp},
        {m_ui.subjectLabel, labelHelp},
        {m_ui.comboLabel, labelHelp},
    };
    for (auto it = m_help.cbegin(); it != m_help.cend(); ++it)
        it.key()->installEventFilter(this);
    m_ui.frame1->installEventFilter(this);
    m_ui.rtfEd->installEventFilter(this);
}

bool WriteForm::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
        if (watched == m_ui.rtfEd || watched == m_ui.frame1) {
            m_ui.text14->hide();
        } else if (m_help.contains(watched)) {
            m_ui.text14->setPlainText(m_help.value(watched));
            fitHelpBox();
            m_ui.text14->show();
            m_ui.text14->raise();
        }
        break;
    case QEvent::FocusOut:
        if (watched == m_ui.combo1 && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
            insertGreeting();
        else if (watched == m_ui.toText)
            rememberRecipientSelection(); // before the line edit drops it
        break;
    case QEvent::MouseButtonPress:
        // A press beside the rows: the selection stays as it was.
        if (watched == m_ui.list1->viewport()
            && !m_ui.list1->indexAt(static_cast<QMouseEvent *>(event)->position().toPoint()).isValid())
            listPressed();
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == m_ui.label7)
            statusDoubleClicked();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void WriteForm::fitHelpBox()
{
    // As high as its text, so that no scroll bar is needed, but within the window.
    const int frame = 2 * (m_ui.text14->frameWidth() + int(m_ui.text14->document()->documentMargin())) + 4;
    const int scrollBar = m_ui.text14->verticalScrollBar()->sizeHint().width();
    const QRect text = m_ui.text14->fontMetrics().boundingRect(
        QRect(0, 0, m_ui.text14->width() - frame - scrollBar, 100000), Qt::TextWordWrap,
        m_ui.text14->toPlainText());
    const int room = qMax(m_ui.px(540), height() - qMax(0, m_ui.text14->y()));
    m_ui.text14->resize(m_ui.text14->width(), qMin(text.height() + frame, room));
}

void WriteForm::placeHelpBox()
{
    // The control panel's "説明表示" box decides whether hover texts can be seen.
    m_ctx.windows.mainForm();
    QWidget *panel = m_ctx.windows.loaded("MainForm");
    const QCheckBox *helpBox = panel ? panel->findChild<QCheckBox *>(u"Check1"_s) : nullptr;
    if (!helpBox)
        return;
    if (helpBox->checkState() == Qt::Checked)
        m_ui.text14->move(m_ui.text14->x(), m_ui.px(HelpTopTwips));
    else if (helpBox->checkState() == Qt::Unchecked)
        m_ui.text14->move(m_ui.text14->x(), m_ui.px(HelpOffTopTwips));
}

void WriteForm::setListBackground(const QColor &colour)
{
    setBackground(m_ui.list1, QPalette::Base, colour);
    // White text on the dark green of the whole-address-book mode.
    setBackground(m_ui.list1, QPalette::Text, colour.lightness() < 128 ? White : QColor(Qt::black));
}

void WriteForm::setSideListHeading()
{
    m_ui.label4->setText(m_ctx.state.sideListMode == HeldListMode ? u"保留メール"_s : u"アドレス帳"_s);
}

void WriteForm::setWidthTwips(int twips)
{
    resize(m_ui.px(twips), height());
}

void WriteForm::setRowCount()
{
    m_ui.text1->setText(QString::number(m_ui.list1->count()));
}

void WriteForm::loadAddressList()
{
    m_ui.list1->clear();
    AddressBookFile book(m_ctx.state.root.addressBookFile(), m_ctx.state.root.addressBookTemp());
    Error err;
    m_listed.loading(book.path());
    const bool ok = book.readAll([this](int n, const AddressEntry &entry) {
        m_ui.list1->addItem(trimTrailingSpaces(cutAtNul(entry.name)));
        m_recordMap.last() = qint16(n);
        m_recordMap.append(0);
        return true;
    }, &err);
    setRowCount();
    if (!ok)
        Prompt::message(this, err.text(), QString(), Prompt::Icon::Warning);
}

void WriteForm::showAddressBook()
{
    m_ui.list1->clear();
    setListBackground(White);
    setWidthTwips(WideTwips);
    m_recordMap = {0};
    m_ctx.state.sideListMode = 0;
    setSideListHeading();
    loadAddressList();
}

void WriteForm::narrow()
{
    setWidthTwips(NarrowTwips);
    setListBackground(White);
}

namespace {
QString clipboardTextTrimmed()
{
    return trimSpaces(QGuiApplication::clipboard()->text());
}
} // namespace

void WriteForm::pasteIntoBody()
{
    QTextCursor cursor = m_ui.rtfEd->textCursor();
    cursor.insertText(clipboardTextTrimmed());
    m_ui.rtfEd->setTextCursor(cursor);
}

void WriteForm::rememberRecipientSelection()
{
    m_toSelection = m_ui.toText->hasSelectedText()
        ? RecipientSelection{m_ui.toText->selectionStart(), int(m_ui.toText->selectedText().size())}
        : RecipientSelection{m_ui.toText->cursorPosition(), 0};
}

void WriteForm::pasteIntoRecipient()
{
    // The button took the focus, and with it the selection: restore what was selected.
    if (!m_ui.toText->hasFocus() && m_toSelection.start >= 0)
        m_ui.toText->setSelection(m_toSelection.start, m_toSelection.length);
    const QString pasted = clipboardTextTrimmed();
    const int kept = int(m_ui.toText->text().size() - m_ui.toText->selectedText().size());
    if (kept + pasted.size() > m_ui.toText->maxLength()) {
        Prompt::message(this, u"宛先に入りきりません（%1 文字まで）。"_s.arg(m_ui.toText->maxLength()),
                        QString(), Prompt::Icon::Warning);
        return;
    }
    m_ui.toText->insert(pasted);
}

void WriteForm::insertIntoBody(const QString &text)
{
    QTextCursor cursor = m_ui.rtfEd->textCursor();
    cursor.insertText(text);
    m_ui.rtfEd->setTextCursor(cursor);
}

void WriteForm::showEmoticons()
{
    m_ctx.windows.kaoForm();
    if (QWidget *palette = m_ctx.windows.loaded("KaoForm"))
        palette->show();
}

// --- held mail ---------------------------------------------------------------

void WriteForm::togglePanel()
{
    qint16 &count = m_ctx.state.heldPanelToggleCount;
    if (count % 2 == 0) {
        m_ui.picture7->show();
        m_ui.picture7->raise();
        m_ui.command17->setText(u"　アドレス呼出"_s);
    } else {
        m_ui.picture7->hide();
        m_ui.command17->setText(u"下書き"_s);
    }
    ++count;
}

void WriteForm::hold()
{
    if (!m_held->hold(true))
        return;
    recall();
    setListBackground(HeldListColour);
    m_ui.command17->setText(u"　アドレス呼出"_s);
}

void WriteForm::recall()
{
    m_ui.text2->clear();
    m_ctx.state.sideListMode = HeldListMode;
    setSideListHeading();
    setListBackground(HeldListColour);
    setWidthTwips(WideTwips);
    m_recordMap = {0};
    m_held->list();
    m_ui.command17->setText(u"　アドレス呼出"_s);
    setBackground(m_ui.command17, QPalette::Button, Yellow);
}

bool WriteForm::selectedRow(int *row)
{
    *row = m_ui.list1->currentRow();
    if (*row < 0 || !m_ui.list1->item(*row)->isSelected() || *row + 1 >= m_recordMap.size())
        return false;
    return true;
}

void WriteForm::listPressed()
{
    if (m_ctx.state.sideListMode == HeldListMode) {
        m_held->pick();
        return;
    }
    m_ui.text2->setText(u"1"_s);
    int row = 0;
    if (!selectedRow(&row)) {
        Prompt::message(this, HeldMailStore::noSelectionMessage(), QString(), Prompt::Icon::Warning);
        m_ui.list1->setFocus();
        return;
    }
    if (!m_listed.isCurrent(this, [this] { showAddressBook(); }))
        return;
    pickAddress(m_recordMap.at(row));
}

void WriteForm::deleteHeld()
{
    if (m_ctx.state.sideListMode == HeldListMode) {
        m_held->removeSelected();
        m_ui.rtfEd->setFocus();
    }
    m_ui.text2->clear();
    m_ui.command17->setText(u"　アドレス呼出"_s);
}

// --- recipients and attachments ----------------------------------------------

void WriteForm::pickAddress(int recordNumber)
{
    AddressBookFile book(m_ctx.state.root.addressBookFile(), m_ctx.state.root.addressBookTemp());
    AddressEntry entry;
    Error err;
    if (!book.read(recordNumber, &entry, &err)) {
        Prompt::message(this, err.text(), QString(), Prompt::Icon::Warning);
        return;
    }
    // Added to what is typed, never cut: a shortened address sends the mail elsewhere.
    const QString address = trimSpaces(cutAtNul(entry.address));
    const QString typed = trimSpaces(m_ui.toText->text());
    QList<Recipient> listed;
    RecipientList::parse(typed, u"宛先"_s, &listed);
    const QString bare = RecipientList::parseOne(address).address;
    for (const Recipient &r : std::as_const(listed))
        if (!bare.isEmpty() && r.address.compare(bare, Qt::CaseInsensitive) == 0)
            return;
    const QString joined = typed.isEmpty() ? address : typed + u", "_s + address;
    if (joined.size() > m_ui.toText->maxLength()) {
        Prompt::message(this, u"宛先に入りきりません（%1 文字まで）。"_s.arg(m_ui.toText->maxLength()),
                        QString(), Prompt::Icon::Warning);
        return;
    }
    m_ui.toText->setText(joined);
}

void WriteForm::toggleAttachmentList()
{
    qint16 &count = m_ctx.state.listToggleCount;
    if (count % 2 == 0) {
        setBackground(m_ui.command16, QPalette::Button, Yellow);
        m_ui.command16->setText(u"非表示"_s);
        m_ui.list2->hide();
    } else {
        setBackground(m_ui.command16, QPalette::Button, LightGrey);
        m_ui.command16->setText(u"表示"_s);
        m_ui.list2->show();
        m_ui.list2->raise();
    }
    ++count;
}

void WriteForm::showWholeBook(bool on)
{
    m_ui.toText->setEnabled(!on);
    // One copy per address-book entry would reach the copies: they are not sent.
    m_ui.ccText->setEnabled(!on);
    m_ui.bccText->setEnabled(!on);
    setBackground(m_ui.toText, QPalette::Base, on ? WholeBookToColour : White);
    setListBackground(on ? Green : White);
}

void WriteForm::wholeAddressBookMode()
{
    m_undelivered.clear();
    if (m_ui.toText->isEnabled())
        m_toBeforeWholeBook = m_ui.toText->text();
    m_ui.toText->clear();
    showWholeBook(true);
    const QString question = u"アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。"_s
        + u"\r\n\r\n"_s + u"件名、本文入力完了後、送信ボタンをクリックして下さい。"_s;
    if (Prompt::ask(this, question))
        return;
    showWholeBook(false);
    m_ui.toText->setText(m_toBeforeWholeBook);
    clearOption2();
}

void WriteForm::setWholeBook(bool on, const QString &typed)
{
    m_undelivered.clear();
    if (on) {
        // A held mail chosen for the whole address book comes back so, without the question again.
        m_toBeforeWholeBook = typed;
        m_ui.option2->setChecked(true);
        m_ui.toText->clear();
        showWholeBook(true);
    } else if (m_ui.option2->isChecked() || !m_ui.toText->isEnabled()) {
        clearOption2();
        showWholeBook(false);
    }
}

void WriteForm::clearOption2()
{
    m_ui.option2->setAutoExclusive(false);
    m_ui.option2->setChecked(false);
    m_ui.option2->setAutoExclusive(true);
}

void WriteForm::normalMode()
{
    m_undelivered.clear();
    // Back from the whole address book: the recipients typed before it return.
    if (!m_ui.toText->isEnabled())
        m_ui.toText->setText(m_toBeforeWholeBook);
    showWholeBook(false);
}

void WriteForm::insertGreeting()
{
    if (!m_greetingChosen || m_ui.combo1->currentText().isEmpty())
        return;
    m_greetingChosen = false;
    // At the start of the body, on a line of its own; one edit for "元に戻す".
    QTextCursor cursor(m_ui.rtfEd->document());
    cursor.insertText(m_ui.rtfEd->document()->isEmpty() ? m_ui.combo1->currentText()
                                                     : m_ui.combo1->currentText() + u'\n');
}

void WriteForm::setBodyPlain(const QString &text)
{
    // New text starts without the last character format (bold and the like).
    m_ui.rtfEd->setCurrentCharFormat(QTextCharFormat());
    m_ui.rtfEd->setPlainText(text);
}

void WriteForm::restoreDraft(const MailDraft &draft)
{
    m_fields->replace(draft);
}

void WriteForm::statusDoubleClicked()
{
    if (!Greetings::isCodeWord(m_ui.toText->text()))
        return;
    resize(width(), m_ui.px(HiddenModeHeightTwips));
    m_ui.command2->show();
    m_ui.command2->setEnabled(true);
}

// --- send --------------------------------------------------------------------

bool WriteForm::isSending() const
{
    return m_job != nullptr;
}

void WriteForm::send()
{
    if (m_job)
        return;
    m_ui.list2->hide();
    m_ui.label7->setText(SendJob::sendingText());

    SendRequest request = SendRequest::fromState(m_ctx.state);
    const bool wholeBook = m_ui.option2->isChecked();
    if (wholeBook && !m_undelivered.isEmpty()) {
        // The last whole-address-book send reached only some: offer the others alone,
        // so that nobody gets the mail twice.
        switch (Prompt::askYesNoCancel(this, SendResult::resendQuestion(m_undelivered))) {
        case Prompt::Answer::Yes:
            request.recipients = m_undelivered;
            break;
        case Prompt::Answer::No:
            break;
        default:
            m_ui.label7->clear();
            return;
        }
    }
    if (wholeBook && request.recipients.isEmpty()) {
        Error err;
        if (!SendRequest::addressBook(m_ctx.state.root, &request.recipients, &err)) {
            m_ui.label7->clear();
            Prompt::message(this, err.text(), SendJob::errorTitle(), Prompt::Icon::Warning);
            return;
        }
    } else {
        request.recipients = SendRequest::single(m_ui.toText->text());
    }
    // The mail goes as plain text; the editor drops its formatting too.
    setBodyPlain(m_ui.rtfEd->toPlainText());
    request.subject = m_ui.subjectText->text();
    request.body = m_ui.rtfEd->toPlainText();
    if (m_ui.check1->isChecked())
        request.body = Greetings::withFortune(request.body, Greetings::randomFortune());
    request.attachments = m_ui.attachText->text();
    if (!wholeBook) { // one copy per address-book entry would reach them
        request.cc = m_ui.ccText->text();
        request.bcc = m_ui.bccText->text();
    }

    m_toTextBeforeSend = m_ui.toText->text();
    m_sentTo = request.recipients;
    m_undelivered.clear();
    setControlsEnabled(false);
    m_job = new SendJob(request, this);
    connect(m_job, &SendJob::passStarted, this,
            [this, wholeBook](int pass, int passes, const QString &shown) {
                if (wholeBook) {
                    m_ui.toText->setText(shown);
                    m_ui.toText->setCursorPosition(0); // the address, not its padding
                    m_ui.label7->setText(SendJob::progressText(pass, passes));
                } else {
                    m_ui.label7->setText(SendJob::sendingText());
                }
            });
    connect(m_job, &SendJob::finished, this, &WriteForm::sendDone);
    m_job->start();
}

void WriteForm::setControlsEnabled(bool enabled)
{
    // While sending only the stop button reacts (it stops before the next pass).
    const auto children = findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *w : children) {
        if (w == m_ui.command3 || w == m_ui.label7)
            continue;
        if (enabled) {
            w->setEnabled(m_enabledBeforeSend.value(w, true));
        } else {
            m_enabledBeforeSend.insert(w, w->isEnabled());
            w->setEnabled(false);
        }
    }
    if (enabled)
        m_enabledBeforeSend.clear();
}

void WriteForm::setCopies(const QString &cc, const QString &bcc)
{
    // A line stays while the mail is written, even emptied, so that what the
    // user removed is seen to be gone.
    m_ui.ccText->setText(cc);
    m_ui.bccText->setText(bcc);
    m_ui.ccText->setCursorPosition(0);
    m_ui.bccText->setCursorPosition(0);
    m_ui.showCopies(!cc.isEmpty(), !bcc.isEmpty());
}

void WriteForm::sendDone()
{
    const SendResult result = m_job->result();
    m_job->deleteLater();
    m_job = nullptr;
    setControlsEnabled(true);
    m_ctx.state.smtpServer = result.smtpServer;

    m_ui.label7->setText(result.statusText());
    if (result.notKept > 0)
        Prompt::message(this, result.keepErrorText(), SendJob::errorTitle(), Prompt::Icon::Warning);
    if (!result.succeeded()) {
        // Everything stays so that the mail can be sent again; after refusals
        // only to those refused, so that nobody gets it twice.
        const bool refusedOnly = !result.refusals.isEmpty() && result.failures.isEmpty() && !m_ui.option2->isChecked();
        m_ui.toText->setText(refusedOnly ? RecipientList::only(m_toTextBeforeSend, result.refusedAddresses())
                                      : m_toTextBeforeSend);
        if (m_ui.option2->isChecked())
            m_undelivered = result.undelivered(m_sentTo);
        if (!result.failures.isEmpty() || !result.refusals.isEmpty())
            Prompt::message(this, result.errorText(), SendJob::errorTitle(), Prompt::Icon::Critical);
        else if (result.passes == 0)
            Prompt::message(this, result.statusText(), SendJob::errorTitle(), Prompt::Icon::Warning);
        emit sendFinished();
        return;
    }
    m_fields->clear();
    m_ui.check1->setChecked(false);
    m_ui.command2->hide();
    setListBackground(Green);
    emit sendFinished();
    close();
}

void WriteForm::closeEvent(QCloseEvent *event)
{
    if (m_job) {
        // Closing during a send stops it before its next pass; the window stays
        // until the send has ended.
        m_job->cancel();
        event->ignore();
        return;
    }
    if (!m_held->mayClose()) {
        event->ignore();
        return;
    }
    m_fields->clear(); // nothing left for the recovery file to keep as the window goes
    event->accept();
    m_ctx.windows.showFloatingWindowsAfter("WriteForm");
    // Tied to the window: an owner that went first with it unloads nothing.
    Windows &windows = m_ctx.windows;
    QTimer::singleShot(0, this, [&windows] { windows.unload("WriteForm"); });
}

} // namespace hollin
