#include "addressbook/FriendForm.h"

#include "storage/AppState.h"
#include "winutil/HeaderPainter.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Twips.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {


// The list reports every mouse press (any button) after the view has moved its selection.
class PressList : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<void()> pressed;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        QTreeWidget::mousePressEvent(event);
        if (pressed)
            pressed();
    }
};

// Caps what the user types at limit characters; texts set by the program
// (a selected entry, a business card, the inbox's sender) may be longer.
void limitTyping(QLineEdit *box, int limit)
{
    auto *previous = new QString;
    QObject::connect(box, &QObject::destroyed, [previous] { delete previous; });
    QObject::connect(box, &QLineEdit::textEdited, box, [box, limit, previous](const QString &text) {
        const qsizetype allowed = std::max<qsizetype>(limit, previous->size());
        if (text.size() <= allowed)
            return;
        const int cursor = box->cursorPosition();
        const qsizetype over = text.size() - allowed;
        // Drop the characters just typed or pasted that do not fit, keep the rest.
        QString kept = text;
        kept.remove(std::max<qsizetype>(0, cursor - over), over);
        box->setText(kept);
        box->setCursorPosition(int(std::max<qsizetype>(0, cursor - over)));
    });
    // Read the box, not the signal: a cut made while the edit is signalled has already replaced it.
    QObject::connect(box, &QLineEdit::textChanged, box, [box, previous] { *previous = box->text(); });
}

// What may be typed or pasted into the address and name boxes.
constexpr int AddressLimit = 60;
constexpr int NameLimit = 30;

const QString &noSelection()
{
    static const QString text = u"データが選択されていません"_s;
    return text;
}

} // namespace

FriendForm::FriendForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_book(ctx.state.root)
{
    setObjectName(u"FriendForm"_s);
    setWindowTitle(u"アドレス帳"_s);
    buildControls();
    placeHelpBox();

    m_list->setHeaderLabels({u"Address"_s, u"Name"_s});
    m_list->setColumnWidth(0, int(m_list->width() / 2));
    m_list->setColumnWidth(1, int(m_list->width() / 2.38));
    installHeaderPainter(m_list);

    m_count->setText(QString::number(m_list->topLevelItemCount()));
    m_status->clear();
    refreshList();
}

FriendForm::~FriendForm() = default;

void FriendForm::buildControls()
{
    setMouseTracking(true);
    resize(twips::toPixels(7335), twips::toPixels(6495));

    auto label = [this](const QString &text, const QRect &r) {
        auto *l = new QLabel(text, this);
        l->setGeometry(r);
        return l;
    };
    auto lineEdit = [this](const char *name, const QRect &r) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(r);
        return e;
    };
    auto button = [this](const char *name, const QString &caption, const QRect &r) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        b->installEventFilter(this);
        return b;
    };

    label(u"メールアドレス"_s, twips::rect(120, 120, 1455, 300));
    m_address = lineEdit("Text4", twips::rect(1620, 120, 4455, 300));
    limitTyping(m_address, AddressLimit);
    m_pasteAddress = button("Command1", u"貼付"_s, twips::rect(6120, 120, 975, 300));

    label(u"名前（名称）"_s, twips::rect(120, 480, 1455, 300));
    m_name = lineEdit("Text2", twips::rect(1620, 480, 4455, 300));
    limitTyping(m_name, NameLimit);
    m_pasteName = button("Command5", u"貼付"_s, twips::rect(6120, 480, 975, 300));

    label(u"名刺"_s, twips::rect(120, 840, 1455, 300));
    m_card = lineEdit("Text50", twips::rect(1620, 840, 4455, 300));
    m_cardButton = button("Command38", u"名刺挿入"_s, twips::rect(6120, 840, 975, 300));

    m_register = button("Command3", u"登録"_s, twips::rect(120, 1200, 975, 300));
    label(u"登録件数"_s, twips::rect(1200, 1200, 1395, 300));
    m_count = lineEdit("Text3", twips::rect(2640, 1200, 615, 300));
    m_count->setReadOnly(true);
    m_count->setAttribute(Qt::WA_InputMethodEnabled, false);
    auto *note = label(u"名刺は新規作成で宛先を一発挿入した際の確認用として使用します。"_s,
                       twips::rect(3360, 1200, 3615, 540));
    note->setWordWrap(true);
    m_delete = button("Command4", u"削除"_s, twips::rect(120, 1500, 975, 300));

    auto *list = new PressList(this);
    list->pressed = [this] { selectEntry(); };
    m_list = list;
    m_list->setObjectName(u"MailListView"_s);
    m_list->setGeometry(twips::rect(0, 1920, 7335, 4095));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAllColumnsShowFocus(true);

    m_help = new QPlainTextEdit(this);
    m_help->setObjectName(u"Text5"_s);
    m_help->setGeometry(twips::rect(1320, 3240, 5415, 2055));
    m_help->setReadOnly(true);
    m_help->hide();

    auto *strip = new QWidget(this);
    strip->setGeometry(twips::rect(0, 6000, 7335, 495));
    m_status = new QLabel(strip);
    m_status->setObjectName(u"Label7"_s);
    m_status->setGeometry(0, 0, strip->width(), strip->height());

    // Outside the visible area: its click is the list refresh the other commands use.
    m_refresh = button("Command2", QString(), twips::rect(8640, 2400, 735, 255));

    connect(m_refresh, &QPushButton::clicked, this, &FriendForm::refreshList);
    connect(m_register, &QPushButton::clicked, this, &FriendForm::registerEntry);
    connect(m_delete, &QPushButton::clicked, this, &FriendForm::deleteEntry);
    connect(m_cardButton, &QPushButton::clicked, this, &FriendForm::insertBusinessCard);
    connect(m_pasteAddress, &QPushButton::clicked, this, [this] { pasteInto(m_address); });
    connect(m_pasteName, &QPushButton::clicked, this, [this] { pasteInto(m_name); });
}

// The control panel's "説明表示" decides whether the help box is ever seen.
void FriendForm::placeHelpBox()
{
    QWidget *panel = m_ctx.windows.loaded("MainForm");
    const QCheckBox *check = panel ? panel->findChild<QCheckBox *>(u"Check1"_s) : nullptr;
    if (!check)
        return;
    const QRect r = m_help->geometry();
    if (check->checkState() == Qt::Checked)
        m_help->move(r.x(), twips::toPixels(3240));
    else if (check->checkState() == Qt::Unchecked)
        m_help->move(r.x(), twips::toPixels(-4000));
}

void FriendForm::showWithAddress(const QString &sender)
{
    if (!isVisible() || mayReplaceTyped()) {
        m_address->setText(sender);
        settle();
    }
    show();
    raise();
}

AddressBookList::Typed FriendForm::typed() const
{
    return {m_name->text(), m_address->text()};
}

bool FriendForm::mayReplaceTyped()
{
    if (!AddressBookList::isUnregistered(typed(), m_settled))
        return true;
    return Prompt::askWithButtons(this, AddressBookList::unregisteredQuestion(), u"置き換える"_s, {}, u"キャンセル"_s)
        == Prompt::Answer::Yes;
}

bool FriendForm::report(const Error &err)
{
    if (!err.isSet())
        return true;
    Prompt::message(this, err.text(), {}, Prompt::Icon::Critical);
    return false;
}

void FriendForm::refreshList()
{
    m_list->clear();
    QList<AddressBookList::Row> rows;
    Error err;
    m_listed.loading(m_ctx.state.root.addressBookFile());
    if (!m_book.rows(&rows, &err))
        report(err);
    for (const AddressBookList::Row &row : std::as_const(rows))
        new QTreeWidgetItem(m_list, {row.address, row.name});
    m_count->setText(QString::number(m_list->topLevelItemCount()));
}

int FriendForm::selectedRecord() const
{
    const QList<QTreeWidgetItem *> items = m_list->selectedItems();
    if (items.isEmpty())
        return -1;
    return m_list->indexOfTopLevelItem(items.first()) + 1;
}

void FriendForm::selectEntry()
{
    const int n = selectedRecord();
    if (n < 1) {
        Prompt::message(this, noSelection(), {}, Prompt::Icon::Warning);
        return;
    }
    if (!m_listed.isCurrent(this, [this] { refreshList(); }))
        return;
    AddressEntry e;
    Error err;
    if (!m_book.entry(n, &e, &err)) {
        report(err);
        return;
    }
    if (!mayReplaceTyped())
        return;
    m_name->setText(e.name);
    m_address->setText(e.address);
    settle();
    m_status->setText(u"　選択しました。"_s);
}

void FriendForm::registerEntry()
{
    const QString lost = charactersWithoutCp932(m_name->text() + m_address->text());
    if (!lost.isEmpty() && !Prompt::ask(this, cp932LossQuestion(lost)))
        return;
    Error err;
    const int n = m_book.add(m_name->text(), m_address->text(), &err);
    if (n < 0) {
        report(err);
        return;
    }
    m_ctx.state.currentRecordNumber = qint16(n);
    settle();
    m_status->setText(u"　登録が完了しました。"_s);
    refreshList();
}

void FriendForm::deleteEntry()
{
    const int n = selectedRecord();
    if (m_address->text().isEmpty() || n < 1) {
        Prompt::message(this, noSelection(), {}, Prompt::Icon::Warning);
        return;
    }
    AddressEntry e;
    Error err;
    if (!m_book.entry(n, &e, &err)) {
        report(err);
        return;
    }
    m_name->setText(e.name);
    m_address->setText(e.address);
    m_ctx.state.currentRecordNumber = qint16(n);
    m_status->setText(u" "_s);
    const bool yes = Prompt::ask(this, u"選択された（行、青色）データを削除します。よろしいですか"_s);
    const DataRoot &root = m_ctx.state.root;
    if (!m_listed.deleteWhileBusy(this, u"アドレス帳の削除"_s, [this] { refreshList(); },
                                  [&root, n, yes](Error *err) { return AddressBookList(root).remove(n, yes, err); }))
        return;
    if (yes)
        m_status->setText(u"削除が完了しました"_s);
    refreshList();
    m_name->clear();
    m_address->clear();
    m_card->clear();
    settle();
}

void FriendForm::insertBusinessCard()
{
    const AddressBookList::CardResult card = AddressBookList::businessCard(m_card->text(), m_address->text());
    if (!card.refusal.isEmpty()) {
        Prompt::message(this, card.refusal, {}, Prompt::Icon::Warning);
        return;
    }
    m_address->setText(card.address);
}

// The paste replaces the box, within the limit typing has: a longer text is
// refused whole, since a cut address is another address.
void FriendForm::pasteInto(QLineEdit *box)
{
    const QString text = QApplication::clipboard()->text();
    const int limit = box == m_address ? AddressLimit : NameLimit;
    if (text.size() > limit) {
        Prompt::message(this, u"貼り付ける文字が長すぎます（%1 文字あります。%2 文字までです）。"_s
                                  .arg(text.size()).arg(limit),
                        {}, Prompt::Icon::Warning);
        return;
    }
    box->setText(text);
}

bool FriendForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter) {
        QString help;
        if (watched == m_pasteAddress)
            help = u"コピーして来たメールアドレスを貼り付けます。"_s;
        else if (watched == m_register)
            help = u"登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。"_s;
        else if (watched == m_cardButton)
            help = u"例えばメールアドレスが「taro@example.jp」の場合、名刺に「日本太郎」と入力して"
                   u"「名刺挿入」をクリックすると「日本太郎<taro@example.jp>」として登録され、"
                   u"受信側ではメールアドレスと共に名刺の「日本太郎」が表示されます。"
                   u"\r\n\r\n"
                   u"必要なければ挿入する必要はありません。"_s;
        else if (watched == m_delete)
            help = u"不要になったメールアドレスを削除します。"_s;
        if (!help.isEmpty()) {
            m_help->setPlainText(help);
            m_help->show();
            m_help->raise();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FriendForm::mouseMoveEvent(QMouseEvent *event)
{
    m_help->hide();
    QWidget::mouseMoveEvent(event);
}

void FriendForm::closeEvent(QCloseEvent *event)
{
    if (AddressBookList::isUnregistered(typed(), m_settled)) {
        const Prompt::Answer answer = Prompt::askWithButtons(this, AddressBookList::unregisteredQuestion(),
                                                             u"登録して閉じる"_s, u"破棄"_s, u"キャンセル"_s);
        if (answer == Prompt::Answer::Yes)
            registerEntry();
        // Cancelled, or the registration failed: the window stays with what was typed.
        if (answer != Prompt::Answer::No && AddressBookList::isUnregistered(typed(), m_settled)) {
            event->ignore();
            return;
        }
    }
    removeHeaderPainter(m_list);
    m_ctx.windows.showFloatingWindowsAfter("FriendForm");
    QWidget::closeEvent(event);
    unloadWhenClosed(m_ctx.windows, this, "FriendForm");
}

} // namespace hollin
