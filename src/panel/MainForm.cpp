#include "MainForm.h"

#include "DocPages.h"
#include "FloatingForm.h"
#include "PanelPictures.h"
#include "ProgramEnd.h"
#include "winutil/Twips.h"
#include "settings/SetForm.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "storage/ServerSettings.h"
#include "transport/MailLib.h"
#include "winutil/Prompt.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QAction>
#include <QCheckBox>
#include <algorithm>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegion>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Pixels between the panel and the floating windows, and between them, on a first start.
constexpr int RowGap = 8;

// Picture2's colour until the user picks one.
const QColor DesignedBackground(0xC0, 0xC0, 0xC0);

struct Size {
    int width;
    int height;
};

Size sizeOf(PanelSize size)
{
    switch (size) {
    case PanelSize::Small:
        return {7000, 3165};
    case PanelSize::Large:
        return {9000, 4080};
    case PanelSize::Designed:
        break;
    }
    return {MainForm::DesignedWidth, MainForm::DesignedHeight};
}

} // namespace

MainForm::MainForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_ctx(ctx)
    , m_settings(ctx.state.root)
    , m_mailLib(std::make_unique<MailLib>())
{
    setObjectName(u"MainForm"_s);
    setWindowTitle(title());
    // Where the window system ignores the shape (an X server under a Wayland
    // compositor), what lies outside it is transparent rather than black;
    // inside it the background area paints everything.
    setAttribute(Qt::WA_TranslucentBackground);
    // The designed layout is tight: a small font keeps every caption whole.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    buildControls();
    startUp();
}

MainForm::~MainForm() = default;

QString MainForm::title()
{
    return u"個性が光る、レイアウト自由自在 Ver 1.0"_s;
}

int MainForm::px(int t) const
{
    return twips::toPixels(t, logicalDpiX());
}

int MainForm::toTwips(int pixels) const
{
    return twips::fromPixels(pixels, logicalDpiX());
}

void MainForm::buildControls()
{
    auto place = [this](QWidget *w, const QString &name, int left, int top, int width, int height) {
        w->setObjectName(name);
        w->setGeometry(px(left), px(top), px(width), px(height));
    };
    auto button = [&](const QString &name, const QString &caption, int l, int t, int w, int h) {
        auto *b = new QPushButton(caption, this);
        place(b, name, l, t, w, h);
        return b;
    };
    auto label = [&](const QString &name, const QString &text, int l, int t, int w, int h) {
        auto *lab = new QLabel(text, this);
        lab->setWordWrap(true);
        place(lab, name, l, t, w, h);
        return lab;
    };
    auto lineEdit = [&](const QString &name, int l, int t, int w, int h) {
        auto *e = new QLineEdit(this);
        place(e, name, l, t, w, h);
        return e;
    };
    auto check = [&](const QString &name, int l, int t) {
        auto *c = new QCheckBox(this);
        place(c, name, l, t, 210, 210);
        return c;
    };

    // Picture2 is the background area; presses on it reach the panel, which drags.
    m_picture2 = new QWidget(this);
    place(m_picture2, u"Picture2"_s, 0, 0, 7215, 2895);
    m_picture2->setAutoFillBackground(true);
    setBackground(DesignedBackground);

    m_image1 = new QLabel(this);
    m_image1->setScaledContents(true);
    place(m_image1, u"Image1"_s, 3480, 120, 2600, 2600);

    m_command5 = button(u"Command5"_s, u"使い方"_s, 120, 120, 1575, 375);
    m_command9 = button(u"Command9"_s, u"背景色"_s, 1680, 120, 1515, 375);
    label(u"Check2Label"_s, u"新着メール有りで、メールを見るを自動表示"_s, 360, 600, 2655, 375);
    m_check2 = check(u"Check2"_s, 3000, 840);
    label(u"Check1Label"_s, u"説明表示"_s, 1920, 1200, 855, 255);
    m_check1 = check(u"Check1"_s, 3000, 1200);
    label(u"Text4Label"_s, u"着信数（累積）"_s, 240, 1600, 1215, 255);
    m_text4 = lineEdit(u"Text4"_s, 1440, 1560, 375, 270);
    QLabel *text6Label = label(u"Text6Label"_s, u"　新着数"_s, 1800, 1600, 735, 255);
    m_text6 = lineEdit(u"Text6"_s, 2880, 1560, 375, 270);
    m_command1 = button(u"Command1"_s, u"矩形"_s, 120, 1920, 855, 375);
    m_command2 = button(u"Command2"_s, u"変形"_s, 960, 1920, 735, 375);
    m_command7 = button(u"Command7"_s, u"フォーム最小化"_s, 1680, 1920, 1575, 375);
    m_command4 = button(u"Command4"_s, u"終了"_s, 120, 2280, 1575, 375);
    m_command6 = button(u"Command6"_s, u"更新履歴"_s, 1680, 2280, 1575, 375);
    m_autoReceiveBusy = label(u"AutoReceiveBusy"_s, u"自動受信中…"_s, 120, 2670, 3135, 210);
    m_autoReceiveBusy->hide();

    // Picture3 holds the picture-set choice.
    auto *picture3 = new QWidget(this);
    place(picture3, u"Picture3"_s, 6240, 120, 580, 2535);
    m_command3 = new QPushButton(u"Load"_s, picture3);
    place(m_command3, u"Command3"_s, 0, 0, 520, 375);
    const int optionTops[5] = {480, 920, 1320, 1760, 2160};
    for (int i = 0; i < 5; ++i) {
        m_options[i] = new QRadioButton(picture3);
        place(m_options[i], u"Option"_s + QString::number(i + 1), 120, optionTops[i], i == 1 ? 180 : 255, 255);
    }

    m_text1 = lineEdit(u"Text1"_s, 840, 4800, 1095, 375);
    m_text2 = lineEdit(u"Text2"_s, 2160, 4800, 1095, 270);
    m_text4->setReadOnly(true);
    m_text6->setReadOnly(true);
    // The counts show their beginning, and both fit five digits (32767 records).
    for (QLineEdit *count : {m_text4, m_text6})
        connect(count, &QLineEdit::textChanged, count, [count] { count->setCursorPosition(0); });
    const int fiveDigits = widthToShow(m_text4, u"32767"_s);
    if (const int grow = fiveDigits - m_text4->width(); grow > 0) { // into the room before Text6
        m_text4->resize(fiveDigits, m_text4->height());
        text6Label->move(text6Label->x() + grow, text6Label->y());
    }
    // Text6 grows to the right up to the picture, then to the left; its label
    // keeps the width of its text.
    if (fiveDigits > m_text6->width()) {
        const int right = std::max(m_text6->geometry().right(), m_image1->x() - 2);
        const int left = std::min(m_text6->x(), right + 1 - fiveDigits);
        m_text6->setGeometry(left, m_text6->y(), right + 1 - left, m_text6->height());
        if (text6Label->geometry().right() >= left)
            text6Label->resize(std::max(left - text6Label->x(), 0), text6Label->height());
    }

    m_picture2->lower();
    m_command4->installEventFilter(this);
    nameForScreenReaders(text6Label);

    connect(m_command3, &QPushButton::clicked, this, &MainForm::loadPictureSet);
    connect(m_command1, &QPushButton::clicked, this, &MainForm::chooseSmall);
    connect(m_command2, &QPushButton::clicked, this, &MainForm::chooseLarge);
    connect(m_command9, &QPushButton::clicked, this, &MainForm::chooseColour);
    connect(m_command7, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(m_command4, &QPushButton::clicked, this, &MainForm::exitProgram);
    connect(m_command5, &QPushButton::clicked, this, [this] { openPage(u"manual.html"_s); });
    connect(m_command6, &QPushButton::clicked, this, [this] { openPage(u"release-notes.html"_s); });
}

// The window shows only its controls: the union of their designed rectangles.
// Made once; the panel sizes only change how much of it the window lets through.
// Text1 and Text2, the scratch boxes below the background area, stay out: an
// empty box apart from the panel would only puzzle the user.
// What a screen reader says for the controls whose caption is beside them or
// missing; the buttons speak their captions.
void MainForm::nameForScreenReaders(QLabel *text6Label)
{
    m_picture2->setAccessibleName(u"背景"_s);
    m_image1->setAccessibleName(u"パネルの絵"_s);
    m_check1->setAccessibleName(u"説明表示"_s);
    m_check2->setAccessibleName(u"新着メール有りで、メールを見るを自動表示"_s);
    m_text4->setAccessibleName(u"着信数（累積）"_s);
    m_text6->setAccessibleName(text6Label->text().trimmed());
    m_text1->setAccessibleName(u"案内"_s);
    m_text2->setAccessibleName(u"作業用"_s);
    m_command3->parentWidget()->setAccessibleName(u"絵柄の選択"_s);
    for (int i = 0; i < 5; ++i)
        m_options[i]->setAccessibleName(u"絵柄 %1"_s.arg(i + 1));
    // The floating windows' commands from any window of the program.
    for (int n = 1; n <= 5; ++n) {
        auto *action = new QAction(FloatingForm::caption(n), this);
        action->setObjectName(u"RunForm%1"_s.arg(n));
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key(Qt::Key_0 + n)));
        action->setShortcutContext(Qt::ApplicationShortcut);
        connect(action, &QAction::triggered, this, [this, n] { m_ctx.windows.floatingForm(n)->run(); });
        addAction(action);
    }
}

void MainForm::cutToShape()
{
    QRegion shape;
    for (QWidget *control : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (control != m_text1 && control != m_text2)
            shape += control->geometry();
    }
    setMask(shape);
}

void MainForm::startUp()
{
    AppState &state = m_ctx.state;
    Windows &windows = m_ctx.windows;
    const DataRoot &root = state.root;

    resize(px(DesignedWidth), px(DesignedHeight));
    cutToShape();

    if (const auto on = m_settings.initialExplanations())
        m_check1->setChecked(*on);
    if (const auto on = m_settings.initialAutoView())
        m_check2->setChecked(*on);

    // Loads the settings window, hidden: its notice options must exist before any receive.
    windows.setForm()->setAutoErase(m_settings.noticeAutoDismiss());

    // The stored-mail count: opening the file creates it when missing. A compaction
    // cut short by a crash is left to the next write, which finishes (or undoes) it.
    Error err;
    MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count(&err);
    if (err.isSet())
        report(err.text());
    countStoredMail();

    err = {};
    const ServerSettings servers = ServerSettings::read(root.serverSettingsFile(), &err);
    if (err.isSet())
        report(err.text());
    state.smtpServer = servers.smtpServer;
    state.pop3Server = servers.pop3Server;
    state.mailAddress = servers.mailAddress;
    state.apopFlag = servers.apopFlag;

    m_mailLib->initializeWinSock();
    m_mailLib->setOption(1, 8192);

    // Each floating window's load step places it at the pointer; the stored position replaces that.
    // Before any position was stored (first start) they go in a row below the panel.
    const WindowPositions positions = m_settings.positions();
    move(px(positions.panel.x()), px(positions.panel.y()));
    const bool stored = m_settings.hasFloatingPositions();
    const QPoint row = pos() + QPoint(0, px(sizeOf(m_settings.panelSize()).height) + RowGap);
    for (int n = 1; n <= 5; ++n) {
        FloatingForm *form = windows.floatingForm(n);
        const QPoint p = positions.floating[n - 1];
        form->place(stored ? QPoint(px(p.x()), px(p.y())) : row + QPoint((n - 1) * (form->width() + RowGap), 0));
    }
    windows.showFloatingWindows();

    if (const auto colour = m_settings.backgroundColour())
        setBackground(*colour);

    err = {};
    if (!PanelPictures(root).copyMissing(&err))
        report(err.text());
    if (const int n = m_settings.pictureSet(); n != 0 && showPicture(n))
        m_options[n - 1]->setChecked(true);

    if (const PanelSize size = m_settings.panelSize(); size != PanelSize::Designed)
        applySize(size);

    if (const auto on = m_settings.savedExplanations())
        m_check1->setChecked(*on);
    if (const auto on = m_settings.savedAutoView())
        m_check2->setChecked(*on);
}

void MainForm::setNewMailCount(int count)
{
    m_text6->setText(QString::number(count));
}

void MainForm::countStoredMail()
{
    const QString file = m_ctx.state.root.receivedMailFile();
    m_text4->setText(QString::number(PanelSettings::recordsForLength(QFileInfo(file).size())));
}

int MainForm::storedMailCountShown() const
{
    return m_text4->text().toInt();
}

bool MainForm::opensInboxOnNewMail() const
{
    return m_check2->isChecked();
}

void MainForm::setAutoReceiveBusy(bool busy)
{
    m_autoReceiveBusy->setVisible(busy);
}

Qt::CheckState MainForm::explanationsState() const
{
    return m_check1->checkState();
}

void MainForm::setBackground(const QColor &colour)
{
    QPalette palette = m_picture2->palette();
    palette.setColor(QPalette::Window, colour);
    m_picture2->setPalette(palette);
}

void MainForm::applySize(PanelSize size)
{
    const Size s = sizeOf(size);
    resize(px(s.width), px(s.height));
    m_command1->setEnabled(size != PanelSize::Small);
    m_command2->setEnabled(size != PanelSize::Large);
}

// Picture n into Image1; an unreadable file keeps what Image1 shows and is reported.
bool MainForm::showPicture(int n)
{
    Error err;
    const QImage image = PanelPictures(m_ctx.state.root).load(n, &err);
    if (image.isNull()) {
        report(err.text());
        return false;
    }
    m_image1->setPixmap(QPixmap::fromImage(image));
    return true;
}

void MainForm::loadPictureSet()
{
    int n = 0;
    for (int i = 0; i < 5 && n == 0; ++i) {
        if (m_options[i]->isChecked())
            n = i + 1;
    }
    if (n == 0 || !showPicture(n))
        return;
    Error err;
    if (!m_settings.writePictureSet(n, &err))
        report(err.text());
}

void MainForm::chooseSmall()
{
    applySize(PanelSize::Small);
    Error err;
    if (!m_settings.writePanelSize(PanelSize::Small, &err))
        report(err.text());
}

void MainForm::chooseLarge()
{
    applySize(PanelSize::Large);
    Error err;
    if (!m_settings.writePanelSize(PanelSize::Large, &err))
        report(err.text());
}

void MainForm::chooseColour()
{
    const QColor current = m_picture2->palette().color(QPalette::Window);
    const int chosen = Prompt::colour(m_ctx.windows.floatingForm(1), PanelSettings::toBgr(current));
    if (chosen == -1)
        return; // cancelled: the colour shown and stored stays
    if (const auto colour = PanelSettings::colourFromText(QString::number(chosen)))
        setBackground(*colour);
    Error err;
    if (!m_settings.writeColour(chosen, &err))
        report(err.text());
}

// The windows that hold typed work close first: those that write mail ask
// about it, the palette and the settings window save it. A window that stays
// open keeps the program running. A receive that runs (an automatic one) is
// then cancelled: it lets go of the network at once, and the positions are
// saved without waiting for it.
void MainForm::exitProgram()
{
    if (!closeWindowsHoldingWork())
        return;
    Windows &windows = m_ctx.windows;
    windows.cancelReceive();
    WindowPositions positions;
    const QPoint panel = screenPosition(this);
    positions.panel = QPoint(toTwips(panel.x()), toTwips(panel.y()));
    for (int n = 1; n <= 5; ++n) {
        const QPoint p = windows.floatingForm(n)->lastPosition();
        positions.floating[n - 1] = QPoint(toTwips(p.x()), toTwips(p.y()));
    }
    Error err;
    if (!m_settings.writePositions(positions, &err)
        || !m_settings.writeChecks(m_check1->isChecked(), m_check2->isChecked(), &err))
        report(err.text());
    ProgramEnd::now();
}

void MainForm::openPage(const QString &fileName)
{
    DocPages::show(this, fileName);
}

void MainForm::report(const QString &text)
{
    Prompt::message(this, text, {}, Prompt::Icon::Critical);
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_command4 && (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove)) {
        m_text1->setText(u"新着メールの受信を行います。"_s);
        m_text1->setCursorPosition(0); // the narrow box shows the sentence's beginning
    }
    return QWidget::eventFilter(watched, event);
}

// Any button pressed on the panel or its background area drags the panel.
void MainForm::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(this, event);
}

void MainForm::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.move(this, event);
}

void MainForm::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release(event);
}

bool MainForm::closeWindowsHoldingWork()
{
    for (const char *name : {"WriteForm", "BackForm", "KaoForm", "SetForm"}) {
        QWidget *window = m_ctx.windows.loaded(name);
        if (window && window->isVisible() && !window->close())
            return false;
    }
    return true;
}

// A close request saves nothing: positions and boxes keep their last saved
// values. The windows that hold typed work close first, as by the exit button.
void MainForm::closeEvent(QCloseEvent *event)
{
    if (!endWithoutSaving()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool MainForm::endWithoutSaving()
{
    if (!closeWindowsHoldingWork())
        return false;
    m_mailLib->endWinSock();
    ProgramEnd::now();
    return true;
}

} // namespace hollin
