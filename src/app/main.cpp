// hollin: the mail client. Start-up finds the data folder, makes sure one copy
// runs per data folder, and loads the control panel, whose load step does the rest.

#include "AppWindows.h"
#include "Platform.h"
#include "panel/MainForm.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    hollin::choosePlatform();
    QApplication app(argc, argv);
    hollin::installQtTranslation(app);
    QApplication::setApplicationName(u"hollin"_s);
    // The program ends only through the panel's exit, its close request or a
    // right press on a floating window, never because windows were hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    hollin::AppState state;
    state.root = hollin::DataRoot::locate(QApplication::arguments(), QApplication::applicationDirPath());
    hollin::Error err;
    if (!state.root.ensureTree(&err)) {
        hollin::Prompt::message(nullptr, u"データフォルダを用意できません。\n"_s + err.text(), {},
                                hollin::Prompt::Icon::Critical);
        return 1;
    }

    // One running copy per data folder: a second start ends at once, silently.
    QLockFile lock(QDir(state.root.dataFolder()).filePath(u"hollin.lock"_s));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        if (lock.error() == QLockFile::LockFailedError)
            return 0;
        hollin::Prompt::message(nullptr, u"データフォルダに書き込めません。\n"_s + state.root.dataFolder(), {},
                                hollin::Prompt::Icon::Critical);
        return 1;
    }

    hollin::AppWindows windows(state);
    windows.mainForm()->show();
    return app.exec();
}
