#include "FileStamp.h"

#include "FileIo.h"

#include <sys/stat.h>

namespace hollin {

FileStamp FileStamp::of(const QString &path)
{
    struct stat st;
    if (::stat(fileio::nativePath(path).constData(), &st) != 0)
        return {};
    return {st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, quint64(st.st_dev),
            quint64(st.st_ino)};
}

} // namespace hollin
