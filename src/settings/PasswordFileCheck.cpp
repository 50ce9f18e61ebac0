#include "PasswordFileCheck.h"

#include "storage/AccountStore.h"
#include "storage/DataRoot.h"
#include "storage/FileIo.h"
#include "storage/OwnSettings.h"
#include "winutil/Prompt.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Runs work on a thread of its own, then then on the window thread.
void offWindowThread(std::function<void()> work, std::function<void()> then)
{
    QThread *thread = QThread::create([work = std::move(work), then = std::move(then)] {
        work();
        QMetaObject::invokeMethod(qApp, then);
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void offerOwnerOnly(QWidget *parent, const QString &path)
{
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

// The user's answer to moving the password, then the move on its own thread.
void offerToMovePasswordToKeyring(const QPointer<QWidget> &parent, const DataRoot &root,
                                  const std::function<void()> &done)
{
    const QString question = u"保存したパスワードは、いまファイル「%1」に書かれています。\n"
                             u"デスクトップのキーリングに移して、ファイルからは消しますか？\n"
                             u"（Windows 版と同じフォルダーを使う場合は、あちらでパスワードの入力が必要になります）"_s
                                 .arg(root.idPassIniFile());
    Error err;
    if (!Prompt::ask(parent, question)) {
        if (!OwnSettings(root.hollinIniFile()).writeKeepPasswordInFile(true, &err))
            Prompt::message(parent, err.text(), {}, Prompt::Icon::Warning);
        offerOwnerOnly(parent, root.idPassIniFile());
        done();
        return;
    }
    auto moveError = std::make_shared<Error>();
    offWindowThread([path = root.idPassIniFile(), moveError] {
        AccountStore(path).movePasswordToKeyring(moveError.get());
    }, [parent, path = root.idPassIniFile(), moveError, done] {
        if (moveError->isSet()) {
            Prompt::message(parent, moveError->text(), {}, Prompt::Icon::Warning);
            offerOwnerOnly(parent, path);
        }
        done();
    });
}

} // namespace

void offerToProtectPasswordFile(QWidget *parent, const DataRoot &root, std::function<void()> done)
{
    if (!done)
        done = [] {};
    auto moveWaits = std::make_shared<bool>(false);
    offWindowThread([root, moveWaits] {
        *moveWaits = !OwnSettings(root.hollinIniFile()).keepPasswordInFile()
            && AccountStore(root.idPassIniFile()).passwordWaitsToMove();
    }, [parent = QPointer<QWidget>(parent), root, moveWaits, done] {
        if (*moveWaits) {
            offerToMovePasswordToKeyring(parent, root, done);
            return;
        }
        offerOwnerOnly(parent, root.idPassIniFile());
        done();
    });
}

} // namespace hollin
