#pragma once

#include "winutil/AppContext.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>

namespace hollin {

struct AppState;
class AutoReceive;
class DesktopNotifier;

// The program's window owner. Each accessor creates its window on first use,
// parentless, and the window's constructor is its load step; the window's
// first size and place are then kept within the screen's available area. Windows are kept by
// class name ("TyakuForm"; the floating windows as "Form1" … "Form5") until they
// are unloaded or the owner goes; the owner deletes the windows it still holds.
class AppWindows : public Windows {
public:
    explicit AppWindows(AppState &state);
    ~AppWindows() override;
    AppWindows(const AppWindows &) = delete;
    AppWindows &operator=(const AppWindows &) = delete;

    MainForm *mainForm() override;
    FloatingForm *floatingForm(int number) override;
    SetForm *setForm() override;
    IdPassForm *idPassForm() override;
    OptionForm *optionForm() override;
    TyakuForm *tyakuForm() override;
    MsgForm *msgForm() override;
    WriteForm *writeForm() override;
    BackForm *backForm() override;
    FriendForm *friendForm() override;
    KaoForm *kaoForm() override;

    QWidget *loaded(const char *className) const override;
    void unload(const char *className) override;

    void showFloatingWindows() override;
    void hideFloatingWindows() override;
    void notifyNewMail(int count, const QString &firstSubject) override;
    void cancelReceive() override;

    // The timer of the automatic receive; SetForm changes it.
    AutoReceive &autoReceive();

private:
    // The window named `name`, created with `make` when it is not loaded. A window
    // asked for again while its own load step runs is a programming error.
    template <class W, class Make>
    W *load(const QByteArray &name, Make make)
    {
        if (QWidget *w = loaded(name.constData()))
            return static_cast<W *>(w);
        Q_ASSERT_X(!m_loading.contains(name), "AppWindows", "window asked for during its own load step");
        Q_ASSERT_X(!m_closing, "AppWindows", "window asked for while the owner deletes its windows");
        m_loading.append(name);
        W *w = make(AppContext{m_state, *this});
        m_loading.removeOne(name);
        fitToScreen(w);
        m_windows.insert(name, w);
        m_order.append(name);
        return w;
    }

    template <class W>
    W *load(const QByteArray &name)
    {
        return load<W>(name, [](const AppContext &ctx) { return new W(ctx); });
    }

    AppState &m_state;
    QHash<QByteArray, QPointer<QWidget>> m_windows;
    QList<QByteArray> m_order;   // load order, for deleting in reverse
    QList<QByteArray> m_loading; // windows whose load step is running
    bool m_closing = false;      // the destructor is deleting the windows
    std::unique_ptr<AutoReceive> m_autoReceive;
    std::unique_ptr<DesktopNotifier> m_notifier;
};

} // namespace hollin
