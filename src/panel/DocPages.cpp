#include "DocPages.h"

#include "winutil/Prompt.h"

#include <QDesktopServices>
#include <QFile>

using namespace Qt::StringLiterals;

// The pages live in this static library's resources, which the linker keeps
// only when something refers to them.
static void initDocResources()
{
    Q_INIT_RESOURCE(docs);
}

namespace hollin {

QUrl DocPages::url(const QString &fileName)
{
    initDocResources();
    const QString path = u":/doc/"_s + fileName;
    return QFile::exists(path) ? QUrl(u"qrc"_s + path) : QUrl();
}

void DocPages::show(QWidget *owner, const QString &fileName)
{
    const QUrl page = url(fileName);
    if (page.isEmpty()) {
        Prompt::message(owner, u"ページが見つかりません: "_s + fileName, {}, Prompt::Icon::Critical);
        return;
    }
    auto *window = owner->findChild<DocPageWindow *>(u"DocPageWindow"_s, Qt::FindDirectChildrenOnly);
    if (!window)
        window = new DocPageWindow(owner);
    window->setSource(page);
    window->show();
    window->raise();
    window->activateWindow();
}

DocPageWindow::DocPageWindow(QWidget *owner)
    : QTextBrowser(owner)
{
    setObjectName(u"DocPageWindow"_s);
    setWindowFlag(Qt::Window);
    setOpenLinks(false);
    resize(760, 640);
    connect(this, &QTextBrowser::anchorClicked, this, &DocPageWindow::follow);
    connect(this, &QTextBrowser::sourceChanged, this, [this] { setWindowTitle(documentTitle()); });
}

void DocPageWindow::follow(const QUrl &link)
{
    const QUrl target = source().resolved(link);
    if (target.scheme() == u"qrc") {
        setSource(target);
        return;
    }
    if (!QDesktopServices::openUrl(target))
        Prompt::message(this, u"ブラウザでページを開けません: "_s + target.toString(), {}, Prompt::Icon::Critical);
}

} // namespace hollin
