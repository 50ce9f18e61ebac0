// hollin: the mail client. Start-up reads the arguments, finds the data folder,
// makes sure one copy runs per data folder (a second start hands its mailto:
// links to the first), and loads the control panel, whose load step does the rest.

#include "AppWindows.h"
#include "CommandLine.h"
#include "DesktopIdentity.h"
#include "DraftsAtStop.h"
#include "InstanceChannel.h"
#include "MailtoCompose.h"
#include "OtherWriterWatch.h"
#include "Platform.h"
#include "UnsentDrafts.h"
#include "inbox/AutoReceive.h"
#include "panel/MainForm.h"
#include "settings/AutoReceiveSettings.h"
#include "settings/PasswordFileCheck.h"
#include "storage/AppState.h"
#include "storage/PrivateTree.h"
#include "winutil/ListedFile.h"
#include "winutil/Prompt.h"

#include <QApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    const hollin::CommandLine commandLine = hollin::CommandLine::parse(hollin::CommandLine::fromArgv(argc, argv));
    if (commandLine.endsNow()) {
        commandLine.print();
        return commandLine.exitStatus();
    }

    if (!hollin::windowSystemReachable(commandLine.platform(), commandLine.displayGiven())) {
        std::fputs("画面（ウィンドウシステム）に接続できないため、Hollin を起動できません"
                   "（DISPLAY も WAYLAND_DISPLAY も設定されていません）。\n"
                   "デスクトップの中で起動してください。端末からは hollin-cli が使えます。\n",
                   stderr);
        return 1;
    }
    hollin::choosePlatform();
    QApplication app(argc, argv);
    hollin::setDesktopIdentity();
    hollin::installQtTranslation(app);
    // The program ends only through the panel's exit, its close request or a
    // right press on a floating window, never because windows were hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    hollin::showStorageNoticesInBoxes();
    hollin::AppState state;
    state.root = hollin::DataRoot::locate(commandLine.rootArguments(), QApplication::applicationDirPath());
    hollin::Error err;
    if (!state.root.ensureTree(&err)) {
        hollin::Prompt::message(nullptr, u"データフォルダを用意できません。\n"_s + err.text(), {},
                                hollin::Prompt::Icon::Critical);
        return 1;
    }
    hollin::privatetree::tightenAndTell(state.root);

    // One running copy per data folder: a second start ends at once after
    // handing its mailto: links to the running copy, or asking it to come forward.
    hollin::InstanceChannel instance(state.root);
    switch (instance.claim(&err)) {
    case hollin::InstanceChannel::Role::Second:
        if (instance.send(commandLine.links(), hollin::activationToken(), 10000, &err))
            return 0;
        hollin::Prompt::message(nullptr, u"起動中の Hollin を呼び出せません。\n"_s + err.text(), {},
                                hollin::Prompt::Icon::Critical);
        return 1;
    case hollin::InstanceChannel::Role::Failed:
        hollin::Prompt::message(nullptr, err.text(), {}, hollin::Prompt::Icon::Critical);
        return 1;
    case hollin::InstanceChannel::Role::First:
        break;
    }

    hollin::AppWindows windows(state);
    const hollin::DraftsAtStop draftsAtStop(windows);
    windows.mainForm()->show();
    hollin::offerToProtectPasswordFile(windows.mainForm(), state.root);
    windows.autoReceive().setMinutes(hollin::AutoReceiveSettings(state.root.iniFile()).activeMinutes());
    if (err.isSet())
        hollin::Prompt::message(nullptr, err.text(), {}, hollin::Prompt::Icon::Warning);
    hollin::offerUnsentDrafts(windows, state.root);
    hollin::answerLaterStarts(instance, windows, commandLine.mailtos());
    const hollin::OtherWriterWatch otherWriters(state, windows);
    return app.exec();
}
