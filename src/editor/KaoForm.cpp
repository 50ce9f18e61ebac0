#include "KaoForm.h"

#include "KaoPalette.h"
#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "storage/TextUtil.h"
#include "winutil/OpenComposition.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Twips.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QLabel *blueLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1StringView(name));
    label->setWordWrap(true);
    label->setStyleSheet(u"color: blue;"_s);
    label->setGeometry(geometry);
    return label;
}

} // namespace

KaoForm::KaoForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx)
{
    setObjectName(u"KaoForm"_s);
    setWindowTitle(u"絵・顔文字"_s);

    auto *command1 = new QPushButton(u"挿入（新規作成）"_s, this);
    command1->setObjectName(u"Command1"_s);
    command1->setGeometry(twips::rect(0, 120, 1695, 375));
    auto *command2 = new QPushButton(u"挿入（返事を書く）"_s, this);
    command2->setObjectName(u"Command2"_s);
    command2->setGeometry(twips::rect(1800, 120, 1815, 375));
    auto *command3 = new QPushButton(u"編集（貼付）"_s, this);
    command3->setObjectName(u"Command3"_s);
    command3->setGeometry(twips::rect(4200, 120, 1095, 375));

    m_kao1 = new QPlainTextEdit(this);
    m_kao1->setObjectName(u"Kao1"_s);
    m_kao1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_kao1->setGeometry(twips::rect(0, 600, 5295, 4575));

    // Each note as high as its text needs at its width, below the one before;
    // the window grows to hold them all.
    int below = 0;
    for (QLabel *note : {
             blueLabel(this, "Label1", u"①挿入した範囲をマウスで選択（青色反転）"_s, twips::rect(0, 5280, 5295, 255)),
             blueLabel(this, "Label2", u"①挿入する場所を選択。「新規作成」または「返事を書く」"_s,
                       twips::rect(0, 5520, 5295, 255)), // as wide as the others: one line for the two names
             blueLabel(this, "Label3",
                       u"※名前他を編集すると自動で保存されます。新データの追加は編集　　　（貼付）で行います。"_s,
                       twips::rect(0, 5880, 5295, 495))}) {
        QRect place = note->geometry();
        place.moveTop(std::max(place.top(), below));
        place.setHeight(std::max(place.height(), note->heightForWidth(place.width())));
        note->setGeometry(place);
        below = place.bottom() + 1;
    }
    setFixedSize(twips::toPixels(5400), std::max(twips::toPixels(6500), below + twips::toPixels(120)));

    connect(command1, &QPushButton::clicked, this, &KaoForm::insertIntoNewMail);
    connect(command2, &QPushButton::clicked, this, &KaoForm::insertIntoReply);
    connect(command3, &QPushButton::clicked, this, &KaoForm::pasteIntoPalette);

    m_composition = new OpenComposition(this);

    // Load: the shipped palette stands in for a missing file.
    KaoPalette file(paletteFile());
    Error err;
    QString text;
    if (file.provideDefault(&err) && file.load(&text, &err)) {
        m_kao1->setPlainText(text);
        m_loaded = true;
    } else {
        Prompt::message(this, err.text(), QString(), Prompt::Icon::Warning);
    }
}

QString KaoForm::paletteFile() const
{
    return m_ctx.state.root.resolve(u"顔文字データ/Kao1.txt"_s);
}

void KaoForm::insertIntoNewMail() { insertInto("WriteForm", "rtfEd", u"新規作成"_s); }
void KaoForm::insertIntoReply() { insertInto("BackForm", "BodyText", u"返事を書く"_s); }

void KaoForm::insertInto(const char *windowClass, const char *bodyName, const QString &windowCaption)
{
    QTextCursor selection = m_kao1->textCursor();
    if (!selection.hasSelection()) {
        // Nothing to insert: the target's selection and the clipboard stay.
        Prompt::message(this, u"範囲を選択して下さい"_s);
        return;
    }
    QWidget *target = m_ctx.windows.loaded(windowClass);
    QTextEdit *body = target && target->isVisible()
        ? target->findChild<QTextEdit *>(QLatin1StringView(bodyName)) : nullptr;
    if (!body) {
        Prompt::message(this, u"「%1」画面が開いていません。"_s.arg(windowCaption));
        return;
    }
    const int end = selection.selectionEnd();
    const QString selected = selection.selectedText().replace(QChar(0x2029), u'\n');
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(selected);
    selection.setPosition(end);
    m_kao1->setTextCursor(selection);
    m_kao1->setFocus();
    body->textCursor().insertText(trimSpaces(selected));
    close();
}

void KaoForm::pasteIntoPalette()
{
    m_kao1->setFocus();
    m_kao1->textCursor().insertText(trimSpaces(QApplication::clipboard()->text()));
    m_kao1->setFocus();
}

void KaoForm::closeEvent(QCloseEvent *event)
{
    m_composition->commit(); // what the input method still composes counts as typed
    // A palette that never loaded is not written over its file.
    if (m_loaded) {
        const QString lost = charactersWithoutCp932(m_kao1->toPlainText());
        if (!lost.isEmpty() && !Prompt::ask(this, cp932LossQuestion(lost))) {
            event->ignore(); // stays open, so that the characters can be changed
            return;
        }
        Error err;
        // The edits are kept unless the user lets them go: the keeping answer is the default.
        if (!KaoPalette(paletteFile()).save(Cp932::storable(m_kao1->toPlainText()), &err)
            && Prompt::askWithButtons(this, err.text() + u"\n\n編集した内容を保存せずに閉じますか？"_s,
                                      u"保存せずに閉じる"_s, QString(), u"閉じない"_s)
                != Prompt::Answer::Yes) {
            event->ignore(); // the edits stay, to be copied or saved once the file can be written
            return;
        }
    }
    event->accept();
    unloadWhenClosed(m_ctx.windows, this, "KaoForm");
}

} // namespace hollin
