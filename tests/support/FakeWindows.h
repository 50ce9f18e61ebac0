#pragma once

#include "winutil/Windows.h"

#include <QByteArrayList>
#include <QHash>
#include <QWidget>

namespace hollin {

// A window owner for tests of one window: it creates no other window, answers
// loaded() from widgets the test registers, and records what was asked of it.
class FakeWindows : public Windows {
public:
    MainForm *mainForm() override { return nullptr; }
    FloatingForm *floatingForm(int) override { return nullptr; }
    SetForm *setForm() override { return nullptr; }
    IdPassForm *idPassForm() override { return nullptr; }
    OptionForm *optionForm() override { return nullptr; }
    TyakuForm *tyakuForm() override { return nullptr; }
    MsgForm *msgForm() override { return nullptr; }
    WriteForm *writeForm() override { return nullptr; }
    BackForm *backForm() override { return nullptr; }
    FriendForm *friendForm() override { return nullptr; }
    KaoForm *kaoForm() override { return nullptr; }

    QWidget *loaded(const char *className) const override { return widgets.value(QByteArray(className)); }
    void unload(const char *className) override { unloaded.append(QByteArray(className)); }
    void showFloatingWindows() override { ++shown; }
    void hideFloatingWindows() override { ++hidden; }
    void notifyNewMail(int, const QString &) override { ++notified; }
    void cancelReceive() override {}

    QHash<QByteArray, QWidget *> widgets;
    QByteArrayList unloaded;
    int shown = 0;
    int hidden = 0;
    int notified = 0;
};

} // namespace hollin
