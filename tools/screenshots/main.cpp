// Takes a picture of every window of Hollin on a data root, for the README.
// Run under a real X server with a window manager: the first picture is the whole screen with
// the shaped panel and the floating windows, the others are one window each.
// Usage: hollin-screenshots --root DIR --out DIR
#include "AppWindows.h"
#include "Platform.h"
#include "addressbook/FriendForm.h"
#include "compose/WriteForm.h"
#include "editor/KaoForm.h"
#include "inbox/MsgForm.h"
#include "inbox/TyakuForm.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(25);
    }
}

bool saveWindow(QWidget *window, const QDir &out, const QString &name)
{
    window->show();
    window->raise();
    settle();
    const bool ok = window->grab().save(out.filePath(name + u".png"_s));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(name + u".png"_s));
    return ok;
}

bool saveScreen(const QDir &out, const QString &name)
{
    settle();
    const bool ok = QApplication::primaryScreen()->grabWindow(0).save(out.filePath(name + u".png"_s));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(name + u".png"_s));
    return ok;
}

void clickButton(QWidget *window, const char *name)
{
    if (auto *button = window->findChild<QPushButton *>(QLatin1StringView(name)))
        button->click();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    hollin::installQtTranslation(app);
    QApplication::setQuitOnLastWindowClosed(false);
    QCommandLineParser parser;
    parser.addOption({u"root"_s, u"data root"_s, u"folder"_s});
    parser.addOption({u"out"_s, u"folder for the pictures"_s, u"folder"_s});
    parser.process(app);
    const QDir out(parser.value(u"out"_s));
    QDir().mkpath(out.path());

    hollin::AppState state;
    state.root = hollin::DataRoot(parser.value(u"root"_s));
    if (!state.root.ensureTree())
        return 1;
    hollin::Prompt::beginScript(); // nothing may wait for an answer here
    hollin::AppWindows windows(state);

    bool ok = true;
    windows.mainForm()->show();
    ok &= saveScreen(out, u"desktop"_s);

    ok &= saveWindow(windows.mainForm(), out, u"MainForm"_s);
    ok &= saveWindow(windows.floatingForm(4), out, u"Form4"_s);
    ok &= saveWindow(windows.setForm(), out, u"SetForm"_s);
    windows.setForm()->hide();
    ok &= saveWindow(windows.optionForm(), out, u"OptionForm"_s);
    windows.optionForm()->hide();
    ok &= saveWindow(windows.idPassForm(), out, u"IdPassForm"_s);
    windows.idPassForm()->hide();

    QWidget *inbox = windows.tyakuForm();
    windows.tyakuForm()->fillAndShow();
    if (auto *list = inbox->findChild<QAbstractItemView *>(u"MailListView"_s); list && list->model()
        && list->model()->rowCount() > 0) {
        const QModelIndex first = list->model()->index(0, 0);
        list->setCurrentIndex(first);
        emit list->clicked(first);
    }
    ok &= saveWindow(inbox, out, u"TyakuForm"_s);
    clickButton(inbox, "Command5"); // reply to the shown mail
    if (QWidget *reply = windows.loaded("BackForm"))
        ok &= saveWindow(reply, out, u"BackForm"_s);

    ok &= saveWindow(windows.writeForm(), out, u"WriteForm"_s);
    ok &= saveWindow(windows.kaoForm(), out, u"KaoForm"_s);
    ok &= saveWindow(windows.friendForm(), out, u"FriendForm"_s);
    ok &= saveWindow(windows.msgForm(), out, u"MsgForm"_s);
    return ok ? 0 : 1;
}
