#include "DocPages.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace hollin {

QString DocPages::find(const QString &fileName, const QString &exeFolder)
{
    const QString folders[] = {
        QDir(exeFolder).filePath(u"../share/hollin/doc"_s),
        QStringLiteral(HOLLIN_DOCS_DIR),
    };
    for (const QString &folder : folders) {
        const QFileInfo page(QDir(folder), fileName);
        if (page.isFile())
            return page.canonicalFilePath();
    }
    return {};
}

} // namespace hollin
