#include "EditorCommands.h"

#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "storage/FileIo.h"
#include "storage/TextUtil.h"
#include "winutil/Prompt.h"
#include "winutil/WindowUtil.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QString NewFileName = u"新規作成.TXT"_s;

// Hides the editor while a command changes it, and gives it the focus afterwards.
class HiddenWhileEditing {
public:
    explicit HiddenWhileEditing(QTextEdit *editor) : m_editor(editor), m_wasVisible(editor->isVisible())
    {
        m_editor->setVisible(false);
    }
    ~HiddenWhileEditing()
    {
        m_editor->setVisible(m_wasVisible);
        m_editor->setFocus();
    }

private:
    QTextEdit *m_editor;
    bool m_wasVisible;
};

} // namespace

EditorCommands::EditorCommands(AppState &state, QTextEdit *editor, QWidget *window, Host host)
    : QObject(window), m_state(state), m_editor(editor), m_window(window), m_host(host)
{
}

bool EditorCommands::run(const QString &key)
{
    if (key == u"New")
        newText();
    else if (key == u"Open")
        openText();
    else if ((key == u"Save" || key == u"SaveAs") && m_host == Host::Inbox)
        saveText();
    else if (key == u"Print")
        print();
    else if (key == u"Cut")
        cut();
    else if (key == u"Undo" && m_host == Host::Compose)
        undo();
    else if (key == u"Copy")
        copy();
    else if (key == u"Paste")
        paste();
    else if (key == u"Bold")
        toggleBold();
    else if (key == u"Italic")
        toggleItalic();
    else if (key == u"Underline")
        toggleUnderline();
    else
        return false;
    return true;
}

QString EditorCommands::editorFilePath() const
{
    const QString name = m_state.editorFileName;
    if (QDir::isAbsolutePath(name))
        return name;
    return QDir(m_state.root.root()).filePath(name);
}

bool EditorCommands::saveEditorFile()
{
    QSaveFile file(editorFilePath());
    const bool existed = QFileInfo::exists(editorFilePath());
    QByteArray bytes = Cp932::encode(m_editor->toPlainText());
    Error err;
    if (file.open(QIODevice::WriteOnly) && !fileio::makePrivateIfNew(file, existed, &err)) {
        Prompt::message(m_window, err.text(), QString(), Prompt::Icon::Warning);
        return false;
    }
    if (!file.isOpen() || file.write(bytes) != bytes.size() || !file.commit()) {
        Prompt::message(m_window, u"ファイルを保存できません: "_s + editorFilePath() + u'\n' + file.errorString(),
                        QString(), Prompt::Icon::Warning);
        return false;
    }
    m_state.editorModified = 0;
    return true;
}

QString EditorCommands::startOverQuestion()
{
    return u"本文を消去して新しく書き始めますか？"_s;
}

void EditorCommands::newText()
{
    if (m_host == Host::Compose) {
        startOver();
        return;
    }
    if (m_state.editorFileName.contains(NewFileName))
        return;
    if (m_state.editorModified == -1 && !m_state.editorFileName.isEmpty())
        saveEditorFile();
    m_editor->clear();
    m_state.editorFileName = folderOf(m_state.editorFileName) + NewFileName;
    saveEditorFile();
    m_window->setWindowTitle(NewFileName + u"      "_s + m_state.editorFileName);
}

// A mail being written is not a file: "New" only empties it, after asking when
// something was typed, as one edit that "Undo" brings back.
void EditorCommands::startOver()
{
    if (m_editor->document()->isEmpty() || !Prompt::ask(m_window, startOverQuestion()))
        return;
    QTextCursor cursor(m_editor->document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    m_editor->setFocus();
}

void EditorCommands::openText()
{
    if (m_mayReplaceBody && !m_mayReplaceBody())
        return;
    openTextIntoBody(m_editor, m_window);
}

void EditorCommands::saveText()
{
    if (m_headerBlock)
        m_editor->setPlainText(m_headerBlock());
    saveBodyAsText(m_editor, m_window);
}

void EditorCommands::print()
{
    const QTextCursor cursor = m_editor->textCursor();
    const bool hasSelection = cursor.hasSelection();
    QPrinter printer;
    if (!Prompt::print(m_window, &printer, hasSelection))
        return;
    // QTextCursor::selectedText() marks paragraph ends with U+2029
    QString text = hasSelection ? cursor.selectedText().replace(QChar(0x2029), u'\n')
                                : m_editor->toPlainText();
    printTextCopies(printer, text, m_editor->document()->defaultFont(), m_afterPrintJob);
    if (printer.printerState() == QPrinter::Error)
        Prompt::message(m_window, u"印刷できませんでした。"_s, QString(), Prompt::Icon::Warning);
}

EditorCommands *attachEditorCommands(AppState &state, QToolBar *toolBar, QTextEdit *editor,
                                     QWidget *window, EditorCommands::Host host)
{
    auto *commands = new EditorCommands(state, editor, window, host);
    QObject::connect(toolBar, &QToolBar::actionTriggered, commands,
                     [commands](QAction *action) { commands->run(action->objectName()); });
    return commands;
}

void printTextCopies(QPrinter &printer, const QString &text, const QFont &font,
                     const std::function<void(int)> &afterJob)
{
    const int copies = qMax(1, printer.copyCount());
    printer.setCopyCount(1);
    QTextDocument document;
    document.setDefaultFont(font);
    document.setPlainText(text);
    for (int copy = 1; copy <= copies; ++copy) {
        document.print(&printer);
        if (afterJob)
            afterJob(copy);
    }
}

void EditorCommands::cut()
{
    // Nothing selected: the clipboard keeps what the user copied before.
    QTextCursor cursor = m_editor->textCursor();
    if (!cursor.hasSelection())
        return;
    HiddenWhileEditing hidden(m_editor);
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(cursor.selectedText().replace(QChar(0x2029), u'\n'));
    cursor.removeSelectedText();
    m_editor->setTextCursor(cursor);
}

void EditorCommands::copy()
{
    // Nothing selected: the clipboard keeps what the user copied before.
    QTextCursor cursor = m_editor->textCursor();
    if (!cursor.hasSelection())
        return;
    HiddenWhileEditing hidden(m_editor);
    const int end = cursor.selectionEnd();
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(cursor.selectedText().replace(QChar(0x2029), u'\n'));
    cursor.setPosition(end);
    m_editor->setTextCursor(cursor);
}

void EditorCommands::paste()
{
    m_editor->setFocus();
    HiddenWhileEditing hidden(m_editor);
    m_editor->textCursor().insertText(trimSpaces(QApplication::clipboard()->text()));
}

void EditorCommands::undo()
{
    m_editor->undo();
}

void EditorCommands::toggleBold() { toggle(Style::Bold, m_state.boldCount); }
void EditorCommands::toggleItalic() { toggle(Style::Italic, m_state.italicCount); }
void EditorCommands::toggleUnderline() { toggle(Style::Underline, m_state.underlineCount); }

void EditorCommands::toggle(Style style, qint16 &counter)
{
    // even: switch on; odd: switch off. The attribute is the whole editor font's.
    const bool on = counter % 2 == 0;
    counter = on ? 1 : 2;
    QFont font = m_editor->document()->defaultFont();
    switch (style) {
    case Style::Bold: font.setBold(on); break;
    case Style::Italic: font.setItalic(on); break;
    case Style::Underline: font.setUnderline(on); break;
    }
    m_editor->document()->setDefaultFont(font);
    m_editor->setFont(font);
}

} // namespace hollin
