#include "PrivateTree.h"

#include "DataRoot.h"
#include "FileIo.h"
#include "StorageNotice.h"

#include <QDirIterator>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin::privatetree {

namespace {

void tightenEntry(const QString &path, QStringList *changed)
{
    const QByteArray native = fileio::nativePath(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || S_ISLNK(st.st_mode) || st.st_uid != ::getuid()
        || (st.st_mode & 077) == 0)
        return;
    if (::chmod(native.constData(), st.st_mode & 07700) == 0)
        changed->append(path);
}

} // namespace

QStringList tighten(const DataRoot &root)
{
    QStringList changed;
    const QStringList folders = {root.dataFolder(), root.pictureFolder(), root.attachmentFolder(), root.kaoFolder(),
                                 root.quickSaveFolder()};
    for (const QString &folder : folders) {
        tightenEntry(folder, &changed);
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories); // links are not followed
        while (it.hasNext())
            tightenEntry(it.next(), &changed);
    }
    tightenEntry(root.serverSettingsFile(), &changed);
    return changed;
}

void tightenAndTell(const DataRoot &root)
{
    const QStringList changed = tighten(root);
    if (changed.isEmpty())
        return;
    storagenotice::tell(u"データフォルダ「%1」の %2 個のファイルとフォルダは他のユーザーも読める状態だったため、"
                        u"自分だけが使える設定に変えました（例: %3）。"_s
                            .arg(root.root()).arg(changed.size()).arg(changed.first()));
}

} // namespace hollin::privatetree
