#include "AttachmentFolderAction.h"

#include "storage/DataRoot.h"
#include "winutil/Prompt.h"

#include <QAction>
#include <QDesktopServices>
#include <QToolBar>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace hollin {

void addAttachmentFolderAction(QToolBar *toolBar, const DataRoot &root, QWidget *window)
{
    toolBar->addSeparator();
    QAction *action = toolBar->addAction(u"添付フォルダ"_s);
    action->setObjectName(u"OpenAttachmentFolder"_s);
    action->setToolTip(u"受信した添付ファイルの置き場所を開きます: "_s + root.attachmentFolder());
    QObject::connect(action, &QAction::triggered, window, [root, window] {
        const QString folder = root.attachmentFolder();
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            Prompt::message(window, u"添付フォルダを開けません。ファイルマネージャーで次の場所を開いてください。\n"_s + folder,
                            {}, Prompt::Icon::Warning);
    });
}

} // namespace hollin
