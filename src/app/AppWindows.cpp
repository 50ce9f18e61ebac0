#include "AppWindows.h"

#include "inbox/AutoReceive.h"
#include "inbox/ReceiveController.h"
#include "inbox/TyakuForm.h"
#include "panel/FloatingForm.h"
#include "storage/AppState.h"
#include "winutil/DesktopNotifier.h"

namespace hollin {

AppWindows::AppWindows(AppState &state)
    : m_state(state)
{
}

// Later windows may refer to earlier ones while they go, so the last loaded goes
// first. While they go, none of them counts as loaded any more.
AppWindows::~AppWindows()
{
    m_autoReceive.reset(); // stops a receive of its own that still runs
    m_notifier.reset();
    m_closing = true;
    QList<QPointer<QWidget>> windows;
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it)
        windows.append(m_windows.value(*it));
    m_windows.clear();
    m_order.clear();
    for (const QPointer<QWidget> &w : windows)
        delete w.data();
}

QWidget *AppWindows::loaded(const char *className) const
{
    return m_windows.value(QByteArray(className)).data();
}

// A window may be unloaded from inside its own handlers (its close event), so it
// is deleted once control is back in the event loop; it is hidden at once.
void AppWindows::unload(const char *className)
{
    const QByteArray name(className);
    const QPointer<QWidget> w = m_windows.take(name);
    m_order.removeOne(name);
    if (w) {
        w->hide();
        w->deleteLater();
    }
}

void AppWindows::showFloatingWindows()
{
    for (int n = 1; n <= 5; ++n)
        floatingForm(n)->show();
}

void AppWindows::hideFloatingWindows()
{
    for (int n = 1; n <= 5; ++n)
        floatingForm(n)->hide();
}

void AppWindows::notifyNewMail(int count, const QString &firstSubject)
{
    if (!m_notifier) {
        m_notifier = std::make_unique<DesktopNotifier>();
        QObject::connect(m_notifier.get(), &DesktopNotifier::activated, m_notifier.get(),
                         [this] { tyakuForm()->fillAndShow(); });
    }
    m_notifier->notifyNewMail(count, firstSubject);
}

void AppWindows::cancelReceive()
{
    ReceiveController::cancelRunning();
}

AutoReceive &AppWindows::autoReceive()
{
    if (!m_autoReceive)
        m_autoReceive = std::make_unique<AutoReceive>(AppContext{m_state, *this});
    return *m_autoReceive;
}

} // namespace hollin

// ---- One block per window: its header and its accessor. ----------------------

// ---- MainForm, Form1 … Form5 (panel)
#include "panel/MainForm.h"

namespace hollin {

MainForm *AppWindows::mainForm()
{
    return load<MainForm>("MainForm");
}

FloatingForm *AppWindows::floatingForm(int number)
{
    Q_ASSERT(number >= 1 && number <= 5);
    return load<FloatingForm>("Form" + QByteArray::number(number),
                              [number](const AppContext &ctx) { return new FloatingForm(ctx, number); });
}

} // namespace hollin

// ---- SetForm, IdPassForm, OptionForm (settings)
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"

namespace hollin {

SetForm *AppWindows::setForm()
{
    return load<SetForm>("SetForm", [this](const AppContext &ctx) {
        auto *form = new SetForm(ctx);
        QObject::connect(form, &SetForm::autoReceiveChanged, &autoReceive(), &AutoReceive::setMinutes);
        return form;
    });
}

IdPassForm *AppWindows::idPassForm()
{
    return load<IdPassForm>("IdPassForm");
}

OptionForm *AppWindows::optionForm()
{
    return load<OptionForm>("OptionForm");
}

} // namespace hollin

// ---- TyakuForm, MsgForm (inbox)
#include "inbox/MsgForm.h"
#include "inbox/TyakuForm.h"

namespace hollin {

TyakuForm *AppWindows::tyakuForm()
{
    return load<TyakuForm>("TyakuForm");
}

MsgForm *AppWindows::msgForm()
{
    return load<MsgForm>("MsgForm");
}

} // namespace hollin

// ---- FriendForm, BackForm (addressbook, reply)
#include "addressbook/FriendForm.h"
#include "reply/BackForm.h"

namespace hollin {

FriendForm *AppWindows::friendForm()
{
    return load<FriendForm>("FriendForm");
}

BackForm *AppWindows::backForm()
{
    return load<BackForm>("BackForm");
}

} // namespace hollin

// ---- WriteForm (compose)
#include "compose/WriteForm.h"

namespace hollin {

WriteForm *AppWindows::writeForm()
{
    return load<WriteForm>("WriteForm");
}

} // namespace hollin

// ---- KaoForm (editor)
#include "editor/KaoForm.h"

namespace hollin {

KaoForm *AppWindows::kaoForm()
{
    return load<KaoForm>("KaoForm");
}

} // namespace hollin
