#include "PasswordFileCheck.h"

#include "storage/AccountStore.h"
#include "storage/DataRoot.h"
#include "storage/FileIo.h"
#include "storage/OwnSettings.h"
#include "winutil/Prompt.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// True when the password left the file.
bool offerToMovePasswordToKeyring(QWidget *parent, const DataRoot &root)
{
    OwnSettings own(root.hollinIniFile());
    AccountStore store(root.idPassIniFile());
    if (own.keepPasswordInFile() || !store.passwordWaitsToMove())
        return false;
    const QString question = u"保存したパスワードは、いまファイル「%1」に書かれています。\n"
                             u"デスクトップのキーリングに移して、ファイルからは消しますか？\n"
                             u"（Windows 版と同じフォルダーを使う場合は、あちらでパスワードの入力が必要になります）"_s
                                 .arg(root.idPassIniFile());
    Error err;
    if (!Prompt::ask(parent, question)) {
        if (!own.writeKeepPasswordInFile(true, &err))
            Prompt::message(parent, err.text(), {}, Prompt::Icon::Warning);
        return false;
    }
    if (!store.movePasswordToKeyring(&err)) {
        Prompt::message(parent, err.text(), {}, Prompt::Icon::Warning);
        return false;
    }
    return true;
}

} // namespace

void offerToProtectPasswordFile(QWidget *parent, const DataRoot &root)
{
    if (offerToMovePasswordToKeyring(parent, root))
        return;
    const QString path = root.idPassIniFile();
    if (!fileio::othersCanRead(path))
        return;
    const QString question = u"ID とパスワードを保存したファイル「%1」は、このコンピューターのほかのユーザーも読める状態です。\n"
                             u"自分だけが読めるように直しますか？"_s.arg(path);
    if (!Prompt::ask(parent, question))
        return;
    Error err;
    if (!fileio::makeOwnerOnly(path, &err))
        Prompt::message(parent, err.text(), {}, Prompt::Icon::Warning);
}

} // namespace hollin
