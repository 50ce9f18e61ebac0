#include "SetForm.h"

#include "AutoReceiveSettings.h"
#include "NoticeSettings.h"
#include "IdPassForm.h"
#include "OptionForm.h"
#include "SenderBox.h"
#include "storage/AppState.h"
#include "storage/KeepMailSettings.h"
#include "winutil/OpenComposition.h"
#include "winutil/Prompt.h"
#include "winutil/WindowStacking.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Shows a dialog, or brings it to the front when it is already open.
void showOnTop(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

SetForm::SetForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ctx(ctx)
    , m_settings(std::make_unique<NoticeSettings>(ctx.state.root.iniFile()))
{
    setObjectName(u"SetForm"_s);
    setWindowTitle(u"設定"_s);
    keepAbove(this); // the floating windows must not cover it

    auto *frame1 = new QGroupBox(this);
    frame1->setObjectName(u"Frame1"_s);
    m_check2 = new QCheckBox(u"新着お知らせボードを１秒で自動消去させる"_s, frame1);
    m_check2->setObjectName(u"Check2"_s);
    m_option1 = new QRadioButton(frame1);
    m_option1->setObjectName(u"Option1"_s);
    auto *label4 = new QLabel(u"新着メール有りでお知らせボードを表示"_s, frame1);
    label4->setObjectName(u"Label4"_s);
    auto *optionRow = new QHBoxLayout;
    optionRow->addWidget(m_option1);
    optionRow->addWidget(label4, 1);
    auto *frame1Layout = new QVBoxLayout(frame1);
    frame1Layout->addLayout(optionRow);
    frame1Layout->addWidget(m_check2);

    // The automatic receive, on a row of its own; a change takes effect at once.
    const AutoReceiveSettings autoReceive(ctx.state.root.iniFile());
    m_autoReceive = new QCheckBox(this);
    m_autoReceive->setObjectName(u"AutoReceiveCheck"_s);
    m_autoReceive->setChecked(autoReceive.enabled());
    m_autoMinutes = new QSpinBox(this);
    m_autoMinutes->setObjectName(u"AutoReceiveMinutes"_s);
    m_autoMinutes->setRange(AutoReceiveSettings::MinMinutes, AutoReceiveSettings::MaxMinutes);
    m_autoMinutes->setValue(autoReceive.minutes());
    m_autoMinutes->setKeyboardTracking(false);
    auto *autoLabel = new QLabel(u"分ごとに自動受信"_s, this);
    autoLabel->setObjectName(u"AutoReceiveLabel"_s);
    auto *autoRow = new QHBoxLayout;
    autoRow->addWidget(m_autoReceive);
    autoRow->addWidget(m_autoMinutes);
    autoRow->addWidget(autoLabel, 1);
    connect(m_autoReceive, &QCheckBox::toggled, this, &SetForm::autoReceiveEdited);
    connect(m_autoMinutes, &QSpinBox::valueChanged, this, &SetForm::autoReceiveEdited);

    auto *line1 = new QFrame(this);
    line1->setObjectName(u"Line1"_s);
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);

    auto *frame2 = new QGroupBox(this);
    frame2->setObjectName(u"Frame2"_s);
    auto *command1 = new QPushButton(u"ID/PASS"_s, frame2);
    command1->setObjectName(u"Command1"_s);
    auto *command2 = new QPushButton(u"POPサーバー"_s, frame2);
    command2->setObjectName(u"Command2"_s);
    auto *frame2Layout = new QHBoxLayout(frame2);
    frame2Layout->addWidget(command1);
    frame2Layout->addWidget(command2);

    // The hidden value mirrored to NUMBER2; never on screen.
    m_text2 = new QLineEdit(u"Text2"_s, this);
    m_text2->setObjectName(u"Text2"_s);
    m_text2->hide();

    auto *keepFrame = new QGroupBox(this);
    keepFrame->setObjectName(u"KeepFrame"_s);
    m_keepCheck = new QCheckBox(u"受信したメールをサーバーに残す"_s, keepFrame);
    m_keepCheck->setObjectName(u"KeepCheck"_s);
    m_keepDays = new QSpinBox(keepFrame);
    m_keepDays->setObjectName(u"KeepDaysSpin"_s);
    m_keepDays->setRange(0, KeepMailSettings::MaxDays);
    m_keepDays->setToolTip(u"0 にすると、サーバーから削除しません。"_s);
    auto *keepDaysLabel = new QLabel(u"日後にサーバーから削除"_s, keepFrame);
    keepDaysLabel->setObjectName(u"KeepDaysLabel"_s);
    auto *keepDaysRow = new QHBoxLayout;
    keepDaysRow->addWidget(m_keepDays);
    keepDaysRow->addWidget(keepDaysLabel, 1);
    auto *keepLayout = new QVBoxLayout(keepFrame);
    keepLayout->addWidget(m_keepCheck);
    keepLayout->addLayout(keepDaysRow);
    connect(m_keepCheck, &QCheckBox::toggled, m_keepDays, &QSpinBox::setEnabled);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame1);
    layout->addLayout(autoRow);
    layout->addWidget(line1);
    layout->addWidget(frame2);
    layout->addWidget(keepFrame);
    m_sender = new SenderBox(m_ctx.state.root.hollinIniFile(), this);
    layout->addWidget(m_sender);

    // Load: NUMBER4 sets the auto-erase box (other values keep it as designed),
    // NUMBER5 = 1 selects the notice option.
    if (const std::optional<bool> autoErase = m_settings->autoErase())
        m_check2->setChecked(*autoErase);
    if (m_settings->showNotice())
        m_option1->setChecked(true);
    const KeepMailSettings keep = KeepMailSettings::read(ctx.state.root.iniFile());
    m_keepCheck->setChecked(keep.keepOnServer);
    m_keepDays->setValue(keep.deleteAfterDays);
    m_keepDays->setEnabled(keep.keepOnServer);

    connect(m_text2, &QLineEdit::textChanged, this, &SetForm::hiddenTextChanged);
    connect(command1, &QPushButton::clicked, this, [this] {
        showOnTop(m_ctx.windows.idPassForm());
    });
    connect(command2, &QPushButton::clicked, this, [this] {
        showOnTop(m_ctx.windows.optionForm());
    });
    m_composition = new OpenComposition(this);
}

SetForm::~SetForm() = default;

bool SetForm::showNoticeBoard() const
{
    return m_option1->isChecked();
}

Qt::CheckState SetForm::autoEraseState() const
{
    return m_check2->checkState();
}

void SetForm::setAutoErase(bool on)
{
    m_check2->setChecked(on);
}

void SetForm::hiddenTextChanged(const QString &text)
{
    if (text.isEmpty()) {
        m_text2->setText(u"0"_s); // runs this handler again, which writes "0"
        return;
    }
    Error err;
    if (!m_settings->writeHiddenValue(text, &err))
        report(err.text());
}

void SetForm::autoReceiveEdited()
{
    const bool on = m_autoReceive->isChecked();
    Error err;
    if (!AutoReceiveSettings(m_ctx.state.root.iniFile()).write(on, m_autoMinutes->value(), &err))
        report(err.text());
    emit autoReceiveChanged(on ? m_autoMinutes->value() : 0);
}

void SetForm::closeEvent(QCloseEvent *event)
{
    m_composition->commit(); // what the input method still composes counts as typed
    Error err;
    const KeepMailSettings keep{m_keepCheck->isChecked(), m_keepDays->value()};
    if (!m_settings->writeOnClose(m_text2->text(), m_check2->isChecked(),
                                  m_option1->isChecked(), &err)
        || !keep.write(m_ctx.state.root.iniFile(), &err)
        || !m_sender->write(&err)) {
        // What was typed is kept unless the user lets it go: the keeping answer is the default.
        if (Prompt::askWithButtons(this, err.text() + u"\n\n入力した設定を保存せずに閉じますか？"_s,
                                   u"保存せずに閉じる"_s, QString(), u"閉じない"_s)
            != Prompt::Answer::Yes) {
            event->ignore(); // what was typed stays, to be saved once the file can be written
            return;
        }
    }
    event->accept();
    unloadWhenClosed(m_ctx.windows, this, "SetForm");
}

void SetForm::report(const QString &text)
{
    Prompt::message(this, text, {}, Prompt::Icon::Warning);
}

} // namespace hollin
