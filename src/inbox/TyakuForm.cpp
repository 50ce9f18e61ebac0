#include "TyakuForm.h"

#include "logic/InboxListModel.h"
#include "logic/InboxText.h"
#include "logic/SearchFilterModel.h"

#include "addressbook/FriendForm.h"
#include "AttachmentFolderAction.h"
#include "SentMailPanel.h"
#include "compose/MailFields.h"
#include "compose/WriteForm.h"
#include "editor/EditorCommands.h"
#include "panel/MainForm.h"
#include "reply/BackForm.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "storage/SavedFullText.h"
#include "storage/SentMailFile.h"
#include "storage/TextUtil.h"
#include "storage/ThreadIndex.h"
#include "winutil/BusyJob.h"
#include "winutil/HeaderPainter.h"
#include "winutil/MailSearchBar.h"
#include "winutil/Prompt.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTextEdit>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int TwipsPerPixel = 15;

int px(int twips) { return twips / TwipsPerPixel; }
QRect px(const QRect &r) { return QRect(px(r.left()), px(r.top()), px(r.width()), px(r.height())); }

const QColor ListBackground(210, 250, 250);
const QColor Grey(128, 128, 128);

QString help(int command)
{
    switch (command) {
    case 1:
        return u"本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータをコピーします（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）はメニューバー、ツールバーからコピー・貼り付けが出来ます。"_s
               u"\r\n\r\n"_s
               u" 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、他のアプリケーションへの貼り付けが可能です。"_s
               u"\r\n\r\n"_s
               u"コピーされる内容は右の欄に反映されます。"_s;
    case 2:
        return u"選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」「From」「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。同名のファイルが既に存在する場合は警告メッセージを出します。"_s;
    case 3:
        return u"受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"_s;
    case 4:
        return u"受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。"_s;
    case 5:
        return u"受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。"_s;
    case 6:
        return u"受信したメール全件削除します。"_s;
    }
    return {};
}

QString searchHelp()
{
    return u"検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、検索したい文字を本文中(body)から検索します。"_s;
}

} // namespace

TyakuForm::TyakuForm(const AppContext &ctx, QWidget *parent)
    : QMainWindow(parent), m_ctx(ctx), m_model(new InboxListModel(this)), m_filter(new SearchFilterModel(this))
{
    setObjectName(u"TyakuForm"_s);
    setWindowTitle(u"着信履歴"_s);
    buildControls();
    attachEditorCommands(m_ctx.state, m_toolBar, m_body, this, EditorCommands::Host::Inbox)
        ->setHeaderBlock([this] { return headerBlock(); });
    addAttachmentFolderAction(m_toolBar, m_ctx.state.root, this);
    nameForScreenReaders();
    resize(px(12000), px(9000));
    fitToScreen(this);
    layout()->activate(); // gives the central area its size before the first layout
    applyLayout();
    setColumnWidths();
    installHeaderPainter(m_list);
    fill();
    m_filledByLoad = true;
}

TyakuForm::~TyakuForm() = default;

void TyakuForm::buildControls()
{
    m_central = new QWidget(this);
    setCentralWidget(m_central);
    m_central->setMouseTracking(true);
    m_central->installEventFilter(this);

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(u"tbToolBar"_s);
    addToolBar(m_toolBar);
    const std::pair<const char16_t *, const char16_t *> keys[] = {
        {u"New", u"新規"}, {u"Open", u"開く"}, {u"Save", u"保存"}, {u"Print", u"印刷"},
        {u"Cut", u"切り取り"}, {u"Copy", u"コピー"}, {u"Paste", u"貼り付け"},
        {u"Bold", u"太字"}, {u"Italic", u"斜体"}, {u"Underline", u"下線"}};
    for (const auto &[key, caption] : keys) {
        QAction *action = m_toolBar->addAction(QString::fromUtf16(caption));
        action->setObjectName(QString::fromUtf16(key));
    }

    m_list = new QTableView(m_central);
    m_list->setObjectName(u"MailListView"_s);
    m_filter->setSourceModel(m_model);
    m_list->setModel(m_filter);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->setWordWrap(false);
    // Rows as tall as the text plus a small margin: five or more show at the designed size.
    const int rowHeight = m_list->fontMetrics().height() + 4;
    m_list->verticalHeader()->setMinimumSectionSize(rowHeight);
    m_list->verticalHeader()->setDefaultSectionSize(rowHeight);
    m_list->horizontalHeader()->setStretchLastSection(true);
    QPalette listPalette = m_list->palette();
    listPalette.setColor(QPalette::Base, ListBackground);
    m_list->setPalette(listPalette);
    m_list->viewport()->installEventFilter(this);
    m_list->viewport()->setMouseTracking(true);
    // The highlighted (selected) row is the shown one, whether the mouse or the
    // keyboard moved it; a click on it shows it again. The view shows the
    // search's rows: the boxes and commands use the underlying record.
    connect(m_list, &QTableView::clicked, this, [this](const QModelIndex &i) { showRow(m_filter->mapToSource(i)); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected) {
                if (!selected.isEmpty() && !m_reselecting)
                    showRow(m_filter->mapToSource(selected.indexes().constFirst()));
            });

    m_picture = new QWidget(m_central);
    m_picture->setObjectName(u"Picture1"_s);

    auto lineEdit = [this](QWidget *parentWidget, const QString &name) {
        auto *edit = new QLineEdit(parentWidget);
        edit->setObjectName(name);
        edit->installEventFilter(this);
        return edit;
    };
    m_subject = lineEdit(m_central, u"Text7"_s);
    m_from = lineEdit(m_central, u"Text8"_s);
    m_date = lineEdit(m_central, u"Text9"_s);

    m_body = new QTextEdit(m_central);
    m_body->setObjectName(u"rtfEd"_s);
    m_body->setAcceptRichText(false);
    m_body->installEventFilter(this);
    m_body->viewport()->installEventFilter(this);
    connect(m_body, &QTextEdit::textChanged, this, [this] { m_ctx.state.editorModified = -1; });

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(u"StatusBar1"_s);
    m_statusBar->setSizeGripEnabled(true);
    m_statusBar->setMinimumHeight(px(600));
    setStatusBar(m_statusBar);

    const QString captions[] = {
        {}, u"コピー（Subject/from/Data）"_s, u"TextQuickSave"_s, u"    一件削除"_s,
        u"    アドレス帳登録"_s, u"   返事を書く"_s, u"   全件削除"_s, u"ボタン消去"_s, u"ボタン表示"_s};
    for (int i = 1; i <= 8; ++i) {
        auto *button = new QPushButton(captions[i], i == 1 ? static_cast<QWidget *>(m_statusBar) : m_picture);
        button->setObjectName(u"Command%1"_s.arg(i));
        button->installEventFilter(this);
        m_commands[i] = button;
    }
    m_commands[1]->setAutoFillBackground(true);
    m_copyBox = lineEdit(m_statusBar, u"Text6"_s);
    m_copyBox->removeEventFilter(this);
    m_sentToggle = new QPushButton(u"送信済み"_s, m_statusBar);
    m_sentToggle->setObjectName(u"SentToggle"_s);
    m_sentToggle->setCheckable(true);
    m_sent = new SentMailPanel(SentMailFile::pathIn(m_ctx.state.root.dataFolder()), m_central);
    m_sent->hide();
    connect(m_sentToggle, &QPushButton::toggled, this, &TyakuForm::showSentMail);
    connect(m_sent, &SentMailPanel::copySelected, this, [this](const SentCopy &copy) {
        showInBoxes(copy.subject, copy.to, copy.date, copy.cc.isEmpty() ? copy.body : u"Cc: "_s + copy.cc + u"\n\n"_s + copy.body);
    });
    connect(m_sent, &SentMailPanel::resendRequested, this, &TyakuForm::resend);

    m_count = lineEdit(m_picture, u"Text2"_s);
    m_count->setReadOnly(true);
    m_count->removeEventFilter(this);
    connect(m_count, &QLineEdit::textChanged, this, [this](const QString &text) {
        // The panel's cumulative count follows the list.
        if (auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm")))
            if (auto *text4 = panel->findChild<QLineEdit *>(u"Text4"_s))
                text4->setText(text);
    });
    m_searchBar = new MailSearchBar(u"Text1"_s, m_picture);
    m_searchBar->setFile(m_ctx.state.root.receivedMailFile());
    m_search = m_searchBar->edit();
    m_search->installEventFilter(this);
    connect(m_searchBar, &MailSearchBar::started, m_filter, &SearchFilterModel::startFiltering);
    connect(m_searchBar, &MailSearchBar::found, m_filter, &SearchFilterModel::addRecords);
    connect(m_searchBar, &MailSearchBar::cleared, m_filter, &SearchFilterModel::stopFiltering);
    connect(m_model, &InboxListModel::modelReset, m_searchBar, &MailSearchBar::restart);
    m_marker = lineEdit(m_central, u"Text5"_s);
    m_marker->removeEventFilter(this);
    m_marker->hide();

    m_help = new QTextEdit(m_central);
    m_help->setObjectName(u"Text4"_s);
    m_help->setReadOnly(true);
    m_help->hide();

    int x = 60;
    for (int i = 2; i <= 8; ++i) {
        m_commands[i]->setGeometry(px(x), px(60), px(1500), px(375));
        x += 1560;
    }
    // The count shows five digits (32767 records) whole; the search bar follows it.
    m_count->setGeometry(px(60), px(480), std::max(px(600), widthToShow(m_count, u"32767"_s)), px(300));
    m_searchBar->setGeometry(m_count->geometry().right() + 1 + px(60), px(480), px(4500), px(300));

    connect(m_commands[1], &QPushButton::clicked, this, &TyakuForm::copyBox);
    connect(m_commands[2], &QPushButton::clicked, this, &TyakuForm::quickSave);
    connect(m_commands[3], &QPushButton::clicked, this, &TyakuForm::deleteOne);
    connect(m_commands[4], &QPushButton::clicked, this, &TyakuForm::registerSender);
    connect(m_commands[5], &QPushButton::clicked, this, &TyakuForm::reply);
    connect(m_commands[6], &QPushButton::clicked, this, &TyakuForm::deleteAll);
    connect(m_commands[7], &QPushButton::clicked, this, [this] { m_ctx.windows.hideFloatingWindows(); });
    connect(m_commands[8], &QPushButton::clicked, this, [this] { m_ctx.windows.showFloatingWindows(); });
}

// What a screen reader says for the controls without a caption of their own;
// the toolbar's buttons join the Tab order, so every command is in reach of the keyboard.
void TyakuForm::nameForScreenReaders()
{
    const std::pair<QWidget *, QString> names[] = {
        {m_list, u"受信メールの一覧"_s}, {m_subject, u"件名"_s}, {m_from, u"差出人"_s}, {m_date, u"日付"_s},
        {m_body, u"本文"_s}, {m_count, u"受信メールの件数"_s}, {m_marker, u"選択の印"_s}, {m_help, u"説明"_s},
        {m_copyBox, u"コピーする内容"_s}, {m_search, u"検索"_s}, {m_picture, u"コマンド"_s},
        {m_statusBar, u"ステータスバー"_s}, {m_toolBar, u"ツールバー"_s}};
    for (const auto &[widget, name] : names)
        widget->setAccessibleName(name);
    for (QAction *action : m_toolBar->actions()) {
        if (QWidget *button = m_toolBar->widgetForAction(action))
            button->setFocusPolicy(Qt::TabFocus);
    }
}

void TyakuForm::applyLayout()
{
    const InboxLayout l = InboxLayout::compute(m_central->width() * TwipsPerPixel,
                                               m_central->height() * TwipsPerPixel);
    m_list->setGeometry(px(l.list));
    m_subject->setGeometry(px(l.subject));
    m_from->setGeometry(px(l.from));
    m_date->setGeometry(px(l.date));
    m_body->setGeometry(px(l.body));
    m_picture->setGeometry(px(l.picture));
    m_commands[1]->setGeometry(px(l.copyButton.x()), px(l.copyButton.y()), px(3300), px(375));
    m_copyBox->setGeometry(px(l.copyBox.x()), px(l.copyBox.y()), px(4000), px(330));
    m_sentToggle->setGeometry(px(l.copyBox.x() + 4060), px(l.copyButton.y()), px(1500), px(375));
    m_sent->setGeometry(m_list->geometry());
    m_help->setGeometry(px(InboxLayout::BodyLeft), px(3600), px(l.list.width() / 2), px(1800));
}

// Subject a half, sender and date a quarter each of the width the rows have
// beside the vertical scroll bar, the date never narrower than a whole date.
void TyakuForm::setColumnWidths()
{
    const int room = m_list->width() - 2 * m_list->frameWidth() - m_list->verticalScrollBar()->sizeHint().width();
    constexpr int CellMargin = 12;
    const int date = std::max(room / 4, m_list->fontMetrics().horizontalAdvance(u"Mon, 07 Dec 2026 09:00:00 +0900"_s)
                                            + CellMargin);
    const int subject = (room - date) * 2 / 3;
    m_list->setColumnWidth(InboxListModel::SubjectColumn, subject);
    m_list->setColumnWidth(InboxListModel::FromColumn, room - date - subject);
    m_list->setColumnWidth(InboxListModel::DateColumn, date);
}

void TyakuForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    applyLayout();
}

void TyakuForm::fillAndShow()
{
    if (!m_filledByLoad)
        fill();
    m_filledByLoad = false;
    show();
    raise();
    activateWindow();
    m_ctx.windows.hideFloatingWindows();
}

void TyakuForm::showReceived(const QString &subject, const QString &from, const QString &date,
                             const QString &body)
{
    m_filledByLoad = false;
    showInBoxes(subject, from, date, body);
    if (!isVisible()) {
        show();
        m_ctx.windows.hideFloatingWindows();
    }
}

void TyakuForm::fill()
{
    m_selectedRow = -1;
    m_marker->clear();
    m_body->clear();
    const int rows = reload();
    if (rows > 0) {
        MailRecord last;
        Error err;
        const DataRoot &root = m_ctx.state.root;
        if (MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).read(rows, &last, &err))
            showInBoxes(last.subject, last.address, last.date,
                        SavedFullText::bodyToShow(last, root.attachmentFolder()));
        else
            Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
    }
}

// Records were only appended: the rows before them are the same records, so
// the selected one is selected again and the boxes keep what they show.
void TyakuForm::fillKeepingShownMail()
{
    const int selected = m_selectedRow;
    const int rows = reload();
    if (selected < 0 || selected >= rows)
        return;
    m_selectedRow = selected;
    const QModelIndex row = m_filter->mapFromSource(m_model->index(selected, 0));
    if (!row.isValid())
        return; // a search is filtering the list again
    m_reselecting = true;
    m_list->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
    m_reselecting = false;
}

// The heads are read on a worker thread under the busy pointer while the
// window keeps painting. A reload asked for meanwhile (an automatic receive
// ended) is done once this one is, so the list ends as the file is.
int TyakuForm::reload()
{
    ++m_fills;
    m_ctx.state.sideListMode = 1;
    if (m_reading) {
        m_readAgain = true;
        return m_model->rowCount();
    }
    m_reading = true;
    const DataRoot &root = m_ctx.state.root;
    do {
        m_readAgain = false;
        m_listed.loading(root.receivedMailFile());
        QByteArray heads;
        Error err;
        const bool read = runWhileBusy(this, u"受信メールの一覧を読み込んでいます…"_s, [&root, &heads](Error *jobErr) {
            return InboxListModel::readHeads(root.receivedMailFile(), root.receivedMailTemp(), &heads, jobErr);
        }, &err);
        m_model->setHeads(heads);
        if (!read)
            Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
    } while (m_readAgain);
    m_reading = false;
    const int rows = m_model->rowCount();
    setCount(rows);
    return rows;
}

void TyakuForm::showInBoxes(const QString &subject, const QString &from, const QString &date,
                            const QString &body)
{
    m_shownDigest.clear();
    m_digestError.clear();
    // Narrow boxes show the beginning of their text.
    for (const auto &[box, text] : {std::pair{m_subject, subject}, {m_from, from}, {m_date, date}}) {
        box->setText(trimSpaces(text));
        box->setCursorPosition(0);
    }
    m_body->setPlainText(trimSpaces(cutAtNul(trimSpaces(body))));
}

void TyakuForm::setCount(int rows)
{
    m_count->setText(QString::number(rows));
}

void TyakuForm::showRow(const QModelIndex &index)
{
    m_marker->setText(u"1"_s);
    if (m_count->text().toInt() == 0) {
        Prompt::message(this, u"選択するデータがありません。"_s);
        return;
    }
    if (!m_listed.isCurrent(this, [this] { fill(); }))
        return;
    m_selectedRow = index.row();
    MailRecord record;
    Error err;
    const DataRoot &root = m_ctx.state.root;
    if (!MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).read(index.row() + 1, &record, &err)) {
        Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
        return;
    }
    showInBoxes(record.subject, record.address, record.date,
                SavedFullText::bodyToShow(record, root.attachmentFolder()));
    // Without it a reply is only not threaded: told then, not here.
    if (!ThreadIndex::digestOf(root.receivedMailFile(), index.row() + 1, &m_shownDigest, &err)) {
        m_shownDigest.clear();
        m_digestError = err.text();
    }
}

QString TyakuForm::headerBlock() const
{
    return hollin::headerBlock(m_subject->text(), m_from->text(), m_date->text(), m_body->toPlainText());
}

bool TyakuForm::takeSelection()
{
    if (m_marker->text().isEmpty()) {
        Prompt::message(this, u"データが選択されていません"_s);
        return false;
    }
    return true;
}

// A question lets the event loop run: when the list was read again meanwhile
// (an automatic receive ended), what was selected is gone.
bool TyakuForm::listedSince(int fills)
{
    if (m_fills == fills)
        return true;
    Prompt::message(this, ListedFile::changedMessage(), {}, Prompt::Icon::Warning);
    return false;
}

void TyakuForm::deleteOne()
{
    if (!takeSelection())
        return;
    const int fills = m_fills;
    const bool yes = Prompt::ask(this, u"選択された（行、青色）データを削除します。よろしいですか"_s);
    m_body->setFocus();
    m_marker->clear();
    if (!yes) {
        m_body->clear();
        return;
    }
    if (!listedSince(fills))
        return;
    const int n = m_selectedRow + 1;
    const DataRoot &root = m_ctx.state.root;
    m_listed.deleteWhileBusy(this, u"受信メールの削除"_s, [this] { fill(); }, [&root, n](Error *err) {
        return MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).deleteRecord(n, err);
    });
    m_subject->clear();
    m_from->clear();
    m_date->clear();
    m_body->clear();
    fill();
}

void TyakuForm::deleteAll()
{
    const int fills = m_fills;
    if (!Prompt::ask(this, u"すべてのデータを削除して良いですか？"_s) || !listedSince(fills))
        return;
    // Mail that arrived after the list was shown is not deleted unseen.
    const DataRoot &root = m_ctx.state.root;
    m_listed.deleteWhileBusy(this, u"受信メールの全件削除"_s, [this] { fill(); }, [&root](Error *err) {
        return MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).deleteAll(err);
    });
    m_subject->clear();
    m_from->clear();
    m_date->clear();
    m_body->clear();
    fill();
}

void TyakuForm::quickSave()
{
    if (!takeSelection())
        return;
    m_body->setFocus();
    m_marker->clear();
    const QString folder = m_ctx.state.root.quickSaveFolder();
    const QString fileName = QuickSave::fileNameFor(m_subject->text());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool exists = QFileInfo::exists(folder + u'/' + fileName);
    QApplication::restoreOverrideCursor();
    const int fills = m_fills;
    if (exists && (!Prompt::ask(this, u"同名のファイルが既に存在します。上書きしますか？ "_s) || !listedSince(fills)))
        return;
    Error err;
    if (!QuickSave::write(folder, fileName, m_subject->text(), m_from->text(), m_date->text(),
                          m_body->toPlainText(), &err)) {
        Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
        return;
    }
    m_body->setPlainText(headerBlock());
}

void TyakuForm::copyBox()
{
    QGuiApplication::clipboard()->setText(m_copyBox->text());
}

void TyakuForm::registerSender()
{
    if (!takeSelection())
        return;
    m_body->setFocus();
    m_marker->clear();
    m_ctx.windows.friendForm()->showWithAddress(m_from->text());
}

void TyakuForm::reply()
{
    if (!takeSelection())
        return;
    m_body->setFocus();
    m_marker->clear();
    ThreadIndex::Ids thread;
    Error err;
    if (!m_shownDigest.isEmpty()
        && !ThreadIndex(ThreadIndex::pathIn(m_ctx.state.root.dataFolder())).find(m_shownDigest, &thread, &err))
        m_digestError = err.text();
    if (!m_digestError.isEmpty())
        Prompt::message(this, u"返信先のメールの Message-ID を読めませんでした。返事はスレッドになりません。\n"_s + m_digestError,
                        {}, Prompt::Icon::Warning);
    m_ctx.windows.backForm()->replyTo(m_subject->text(), m_from->text(), m_body->toPlainText(), thread);
}

void TyakuForm::showSentMail(bool sent)
{
    m_marker->clear(); // the commands of received mail find nothing selected
    showInBoxes({}, {}, {}, {});
    m_list->setVisible(!sent);
    m_sent->setVisible(sent);
    Error err;
    if (sent && !m_sent->reload(&err))
        Prompt::message(this, u"送信済みメールを読めませんでした。\n"_s + err.text(), {}, Prompt::Icon::Warning);
}

// The compose window takes the copy's recipients (the Cc ones too, in the
// one recipient box), subject, body and attachments (taken out into the
// attachment folder); the user sends it from there.
void TyakuForm::resend(const SentCopy &copy)
{
    WriteForm *form = m_ctx.windows.writeForm();
    if (form->isSending()) {
        Prompt::message(this, u"送信中のため、再送信するメールを開けません。送信が終わってから開き直してください。"_s);
        return;
    }
    if (!form->fields().mayReplace())
        return;
    const DataRoot &root = m_ctx.state.root;
    QStringList attachments;
    Error err;
    if (!SentCopies::extractAttachments(SentMailFile::pathIn(root.dataFolder()), copy.number, root.dataFolder(),
                                        root.attachmentFolder(), &attachments, &err)) {
        Prompt::message(this, u"再送信するメールの添付ファイルを取り出せませんでした。\n"_s + err.text(), {},
                        Prompt::Icon::Warning);
        return;
    }
    // The attachment box lists paths between commas: a name with one is attached by hand.
    const QStringList withComma = attachments.filter(u","_s);
    for (const QString &path : withComma)
        attachments.removeOne(path);
    const QString to = copy.cc.isEmpty() ? copy.to : copy.to + u", "_s + copy.cc;
    // A shortened address would send the mail elsewhere: too long a list is not put in.
    const bool fits = to.size() <= form->findChild<QLineEdit *>(u"ToText"_s)->maxLength();
    form->restoreDraft(MailDraft{fits ? to : QString(), copy.subject, copy.body, attachments.join(u',')});
    if (!withComma.isEmpty())
        Prompt::message(form, u"名前に「,」を含む添付ファイルは自動では添付できません。「追加」で添付してください。\n"_s
                                  + withComma.join(u'\n'), {}, Prompt::Icon::Warning);
    if (!fits)
        Prompt::message(form, u"宛先が長すぎて入りません。宛先を確かめて入力してください。\n"_s + to, {},
                        Prompt::Icon::Warning);
    form->show();
    form->raise();
    form->activateWindow();
}

void TyakuForm::setHelp(const QString &text)
{
    m_help->setPlainText(text);
    auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm"));
    // The help box is on screen only while the panel's "説明表示" is ticked.
    m_help->setVisible(panel && panel->explanationsState() == Qt::Checked);
}

void TyakuForm::hideHelp(bool empty)
{
    m_help->hide();
    if (empty)
        m_help->clear();
    setCopyColour(Grey);
}

void TyakuForm::setCopyColour(const QColor &colour)
{
    QPalette palette = m_commands[1]->palette();
    palette.setColor(QPalette::Button, colour);
    m_commands[1]->setPalette(palette);
}

bool TyakuForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        for (int i = 1; i <= 6; ++i)
            if (watched == m_commands[i])
                setHelp(help(i));
        if (watched == m_search)
            setHelp(searchHelp());
        else if (watched == m_list->viewport())
            hideHelp(true);
        else if (watched == m_body || watched == m_body->viewport())
            hideHelp(false);
        else if (watched == m_central && event->type() == QEvent::MouseMove)
            applyLayout();
        const std::pair<QLineEdit *, QColor> boxes[] = {
            {m_subject, QColor(255, 255, 0)}, {m_from, QColor(0, 0, 255)}, {m_date, QColor(255, 255, 255)}};
        for (const auto &[box, colour] : boxes) {
            if (watched == box) {
                m_copyBox->setText(box->text());
                setCopyColour(colour);
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TyakuForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    removeHeaderPainter(m_list);
    m_ctx.windows.showFloatingWindowsAfter("TyakuForm");
    unloadWhenClosed(m_ctx.windows, this, "TyakuForm");
}

} // namespace hollin
