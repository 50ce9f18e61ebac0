#include "AttachmentFolderAction.h"

#include "storage/DataRoot.h"
#include "winutil/Prompt.h"

#include <QAction>
#include <QPointer>
#include <QProcess>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

void tellFolder(QWidget *window, const QString &folder)
{
    Prompt::message(window,
                    u"添付フォルダを開くファイルマネージャーがありません。添付ファイルは次の場所にあります。\n"_s + folder,
                    {}, Prompt::Icon::Warning);
}

} // namespace

void addAttachmentFolderAction(QToolBar *toolBar, const DataRoot &root, QWidget *window)
{
    toolBar->addSeparator();
    QAction *action = toolBar->addAction(u"添付フォルダ"_s);
    action->setObjectName(u"OpenAttachmentFolder"_s);
    action->setToolTip(u"受信した添付ファイルの置き場所を開きます: "_s + root.attachmentFolder());
    // xdg-open says by its exit status whether a file manager took the folder
    // (3: none found); it is waited for without holding the window.
    QObject::connect(action, &QAction::triggered, window, [root, window] {
        const QString folder = root.attachmentFolder();
        auto *opener = new QProcess(window);
        opener->setProgram(u"xdg-open"_s);
        opener->setArguments({folder});
        const QPointer<QWidget> owner(window);
        QObject::connect(opener, &QProcess::finished, opener, [opener, owner, folder](int status, QProcess::ExitStatus how) {
            opener->deleteLater();
            if ((how != QProcess::NormalExit || status != 0) && owner)
                tellFolder(owner, folder);
        });
        QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, owner, folder](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            opener->deleteLater();
            if (owner)
                tellFolder(owner, folder);
        });
        opener->start();
    });
}

} // namespace hollin
