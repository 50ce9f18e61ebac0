#include "PasswordFileCheck.h"

#include "storage/DataRoot.h"
#include "storage/FileIo.h"
#include "winutil/Prompt.h"

using namespace Qt::StringLiterals;

namespace hollin {

void offerToProtectPasswordFile(QWidget *parent, const DataRoot &root)
{
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
