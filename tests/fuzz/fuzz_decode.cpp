// libFuzzer target: decode a message and extract its attachments. Besides
// crashes and leaks (AddressSanitizer), it fails when extraction leaves
// anything outside the attachment folder. The process works inside the jail,
// so a file written relative to the working folder is caught as well.
#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// jail/ holds only attach/, the folder given to the extractor.
struct Jail {
    Jail()
    {
        if (!root.isValid() || !QDir::setCurrent(root.path()))
            std::abort();
    }
    QTemporaryDir root;
    QString folder() const { return root.path() + u"/attach"_s; }
};

Jail &jail()
{
    static Jail j;
    return j;
}

[[noreturn]] void escaped(const QString &path)
{
    std::fprintf(stderr, "file written outside the attachment folder: %s\n", qPrintable(path));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    Jail &j = jail();
    QDir(j.folder()).removeRecursively();
    QDir().mkpath(j.folder());

    const hollin::DecodedMail mail = hollin::MailDecoder::decode(raw);
    (void)mail;
    QStringList written;
    hollin::Error err;
    const int result = hollin::AttachmentExtractor::extract(raw, j.folder(), &written, &err);
    if (result != 0 && result != 1 && result != -5 && result != -6)
        std::abort();

    QDirIterator it(j.root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != j.folder() && !path.startsWith(j.folder() + u'/'))
            escaped(path);
        if (QFileInfo(path).isSymLink())
            escaped(path);
    }
    // Joined by hand: QDir::filePath() takes a name like ":x" for a whole path.
    for (const QString &name : written)
        if (!QFileInfo::exists(j.folder() + u'/' + name) || name.contains(u'/'))
            escaped(name);
    return 0;
}
