#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;
class QWidget;

namespace hollin {

// Every message box and file dialog of the program goes through here, so that
// tests can answer them and read the texts that were shown.
// Every box and dialog shown is kept above the always-on-top floating windows.
class Prompt {
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum class Answer { Ok, Yes, No, Cancel };
    enum class Kind { Message, Question, YesNoCancel, OpenFile, SaveFile, Colour, Print };

    struct Shown {
        Kind kind;
        QString title;
        QString text;
    };

    // A box with an OK button, its text selectable. An empty title means the program's title.
    static void message(QWidget *parent, const QString &text, const QString &title = {},
                        Icon icon = Icon::Information);
    // The same box for what happens in the background (an automatic
    // receive): shown without taking the keyboard from the window the user
    // types in, in the corner of the screen away from it, and without
    // waiting; OK with the mouse closes it.
    static void notice(const QString &text, const QString &title = {}, Icon icon = Icon::Information);
    // A modal Yes/No box with the question icon; true for Yes.
    static bool ask(QWidget *parent, const QString &text, const QString &title = confirmTitle());
    // Yes / No / Cancel.
    static Answer askYesNoCancel(QWidget *parent, const QString &text, const QString &title = confirmTitle());
    // The same with the buttons' own captions; an empty `no` leaves that button out.
    static Answer askWithButtons(QWidget *parent, const QString &text, const QString &yes, const QString &no,
                                 const QString &cancel, const QString &title = confirmTitle());
    // File dialogs; empty on cancel. filter uses Qt's form ("テキスト (*.txt *.ini)").
    static QString openFileName(QWidget *parent, const QString &title, const QString &folder,
                                const QString &filter);
    static QString saveFileName(QWidget *parent, const QString &title, const QString &folder,
                                const QString &filter);
    // The desktop's colour dialog; 0x00BBGGRR, or -1 on cancel.
    static int colour(QWidget *parent, int initial);
    // The desktop's print dialog on printer; false on cancel.
    static bool print(QWidget *parent, QPrinter *printer, bool hasSelection);

    static QString programTitle(); // "Hollin"
    static QString confirmTitle(); // "確認"

    // --- test hooks --------------------------------------------------------
    // While scripted, nothing is shown: questions take the next queued answer
    // (Yes when none is queued), file dialogs the next queued name (cancel when
    // none), colours the next queued colour (-1 when none).
    static void beginScript();
    static void endScript();
    static bool isScripted();
    static void queueAnswer(Answer answer);
    static void queueFileName(const QString &path);
    static void queueColour(int colour);
    // The next message box or question is made (with its parent) and, while it
    // exists, whileOpen runs in place of the handlers the event loop would run
    // while the box is open; then the box goes and the queued answer applies.
    static void queueWhileOpen(const std::function<void()> &whileOpen);
    // The next print dialog is accepted after setup has configured the printer
    // (output file, copies); without a queued setup it is cancelled.
    static void queuePrinterSetup(const std::function<void(QPrinter &)> &setup);
    static QList<Shown> shown();
    static QStringList shownTexts();
    static void clearShown();
};

} // namespace hollin
