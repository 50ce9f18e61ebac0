#include "PanelPictures.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

using namespace Qt::StringLiterals;

// The pictures live in this static library's resources, which the linker keeps
// only when something refers to them.
static void initPanelResources()
{
    Q_INIT_RESOURCE(panel);
}

namespace hollin {

PanelPictures::PanelPictures(const DataRoot &root)
    : m_root(root)
{
}

QString PanelPictures::path(int n) const
{
    return m_root.resolve(u"画像データ/"_s + QString::number(n) + u".jpg"_s);
}

bool PanelPictures::copyMissing(Error *err) const
{
    initPanelResources();
    for (int n = 1; n <= Count; ++n) {
        const QString target = path(n);
        if (QFileInfo::exists(target))
            continue;
        QFile shipped(u":/panel/"_s + QString::number(n) + u".jpg"_s);
        if (!shipped.copy(target))
            return fail(err, u"パネルの画像を画像フォルダに置けません。"_s,
                        target + u": "_s + shipped.errorString());
        // A copy out of the resources is read-only; the user may replace it.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
    return true;
}

QImage PanelPictures::load(int n, Error *err) const
{
    const QString file = path(n);
    QImageReader reader(file);
    const QImage image = reader.read();
    if (image.isNull())
        fail(err, u"パネルの画像を読み込めません。"_s, file + u": "_s + reader.errorString());
    return image;
}

} // namespace hollin
