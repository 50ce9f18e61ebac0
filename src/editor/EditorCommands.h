#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QPrinter;
class QTextEdit;
class QToolBar;
class QWidget;

namespace hollin {

struct AppState;

// The toolbar commands on a mail body (new, open, save, print, cut, copy,
// paste, undo, bold, italic, underline). The inbox and the compose window each
// own one; the style counters and the editor file name are program-wide, so a
// style switched on in one window is switched off by the next press in the other.
class EditorCommands : public QObject {
    Q_OBJECT
public:
    enum class Host { Inbox, Compose };

    EditorCommands(AppState &state, QTextEdit *editor, QWidget *window, Host host);

    // Runs the command of a toolbar key (compared exactly); false when the key
    // means nothing in this window.
    bool run(const QString &key);

    // Inbox only: the text that replaces the body before it is saved.
    void setHeaderBlock(const std::function<QString()> &headerBlock) { m_headerBlock = headerBlock; }
    // Asked before "Open" replaces the body; false keeps it.
    void setMayReplaceBody(const std::function<bool()> &mayReplace) { m_mayReplaceBody = mayReplace; }
    // Called after each printed copy, with its 1-based number (each copy is a job of its own).
    void setAfterPrintJob(const std::function<void(int)> &afterJob) { m_afterPrintJob = afterJob; }

    void newText();
    void openText();
    void saveText();
    void print();
    void cut();
    void copy();
    void paste();
    void undo();
    void toggleBold();
    void toggleItalic();
    void toggleUnderline();

    // Asked by "New" in the compose window before it empties a typed body.
    static QString startOverQuestion(); // "本文を消去して新しく書き始めますか？"

    // The file name "New" writes to, resolved against the data root when relative.
    QString editorFilePath() const;

private:
    enum class Style { Bold, Italic, Underline };
    void toggle(Style style, qint16 &counter);
    bool saveEditorFile();
    void startOver();

    AppState &m_state;
    QTextEdit *m_editor;
    QWidget *m_window;
    Host m_host;
    std::function<QString()> m_headerBlock;
    std::function<void(int)> m_afterPrintJob;
    std::function<bool()> m_mayReplaceBody;
};

// Gives a window's toolbar the editing commands on its body: a press on an
// action runs the command whose key is the action's objectName.
EditorCommands *attachEditorCommands(AppState &state, QToolBar *toolBar, QTextEdit *editor,
                                     QWidget *window, EditorCommands::Host host);

// Prints text in font once per copy the printer asks for, each copy a job of its own.
void printTextCopies(QPrinter &printer, const QString &text, const QFont &font,
                     const std::function<void(int)> &afterJob = {});

} // namespace hollin
