#pragma once

class QString;
class QWidget;

namespace hollin {

class MainForm;
class FloatingForm;
class SetForm;
class IdPassForm;
class OptionForm;
class TyakuForm;
class MsgForm;
class WriteForm;
class BackForm;
class FriendForm;
class KaoForm;

// The one owner of the program's windows. A window is created on first use:
// asking for it constructs it, and its constructor runs the window's load step.
// isLoaded() asks without creating.
class Windows {
public:
    virtual ~Windows() = default;

    virtual MainForm *mainForm() = 0;
    // Form1 … Form5 (1-based): settings, new mail, view mail, receive, address book.
    virtual FloatingForm *floatingForm(int number) = 0;
    virtual SetForm *setForm() = 0;
    virtual IdPassForm *idPassForm() = 0;
    virtual OptionForm *optionForm() = 0;
    virtual TyakuForm *tyakuForm() = 0;
    virtual MsgForm *msgForm() = 0;
    virtual WriteForm *writeForm() = 0;
    virtual BackForm *backForm() = 0;
    virtual FriendForm *friendForm() = 0;
    virtual KaoForm *kaoForm() = 0;

    // The window by its class name ("TyakuForm"), null when not loaded.
    virtual QWidget *loaded(const char *className) const = 0;
    bool isLoaded(const char *className) const { return loaded(className) != nullptr; }
    // Unloads a window (what closing it does); the next use loads it anew.
    virtual void unload(const char *className) = 0;

    // Form1 … Form5 shown in that order, or hidden in that order.
    virtual void showFloatingWindows() = 0;
    virtual void hideFloatingWindows() = 0;
    // As a window that hides the floating windows closes or ends (`closing`,
    // its class name; null for a receive): they come back unless another such
    // window is still open, as the inbox under a reply or a mail written from it.
    void showFloatingWindowsAfter(const char *closing);

    // Tells the desktop that a receive stored `count` new mails; a click on
    // the desktop's notification opens the inbox.
    virtual void notifyNewMail(int count, const QString &firstSubject) = 0;

    // Cancels a receive that is running (the program ends).
    virtual void cancelReceive() = 0;
};

} // namespace hollin
