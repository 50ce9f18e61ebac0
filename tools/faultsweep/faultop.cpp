// hollin-faultop: the writing operations of the windows that hollin-cli has
// no command for, run in a process of their own so that the fault-injection
// shim applies to them alone.
//
//     hollin-faultop --root DIR held-save SUBJECT
//     hollin-faultop --root DIR settings NUMBER
//
// Exit 0 when the operation reports success, 1 with the error on stderr.
#include "SettingsSample.h"

#include "compose/logic/HeldMailStore.h"
#include "storage/DataRoot.h"

#include <QCoreApplication>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

int failed(const Error &err)
{
    std::fprintf(stderr, "%s\n", qPrintable(err.text()));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 4 || args.at(0) != u"--root") {
        std::fprintf(stderr, "usage: hollin-faultop --root DIR held-save SUBJECT | settings NUMBER\n");
        return 2;
    }
    const DataRoot root(args.at(1));
    Error err;
    if (!root.ensureTree(&err))
        return failed(err);
    if (args.at(2) == u"held-save") {
        HeldMailStore store(root);
        const HeldMail mail{u"to@example.jp"_s, args.at(3), u"保留した本文 "_s + args.at(3)};
        return store.hold(mail, &err) < 0 ? failed(err) : 0;
    }
    if (args.at(2) == u"settings")
        return settingssample::write(root, args.at(3).toInt(), &err) ? 0 : failed(err);
    std::fprintf(stderr, "hollin-faultop: unknown operation\n");
    return 2;
}
