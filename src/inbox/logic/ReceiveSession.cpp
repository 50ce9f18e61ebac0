#include "ReceiveSession.h"

#include "ReceivedRecord.h"
#include "RecordAppender.h"

#include "storage/DataFolderLock.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/TextUtil.h"
#include "transport/MailLib.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
// Records written between two flushes (and deletions on the server).
constexpr int FlushEvery = 50;
} // namespace

ReceiveSession::ReceiveSession(const ReceiveSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
}

ReceiveSession::~ReceiveSession() = default;

ReceiveResult ReceiveSession::run()
{
    using Outcome = ReceiveResult::Outcome;
    ReceiveResult result;
    if (m_settings.pop3Server.isEmpty()) {
        result.outcome = Outcome::NoServer;
        return result;
    }

    // One writer at a time: nothing else may change the received-mail file
    // while this session appends to it, so the lock is held to the end.
    DataFolderLock lock(QFileInfo(m_settings.receivedMailFile).absolutePath(), u"受信"_s);
    if (!lock.take(&result.error)) {
        result.outcome = Outcome::Stopped;
        return result;
    }

    MailLib lib;
    const int handle = lib.pop3Connect(m_settings.pop3Server);
    if (handle == -1) {
        result.outcome = Outcome::NoConnection;
        fail(&result.error, u"POP3 サーバーに接続できませんでした。"_s, cutAtNul(lib.getMessage()));
        return result;
    }

    const ProfileFile account(m_settings.idPassIniFile, true);
    const QString id = account.readText(u"NAME"_s);
    const QString password = account.readText(u"NAME2"_s);
    emit accountRead(id, password);
    if (id.isEmpty() || password.isEmpty()) {
        lib.pop3Close(handle);
        result.outcome = Outcome::NeedAccount;
        return result;
    }

    result.count = lib.pop3Authenticate(handle, id, password, m_settings.apopFlag != 0 ? -1 : 0);
    if (result.count < 0) {
        fail(&result.error, cutAtNul(lib.getMessage()));
        result.count = 0;
        lib.pop3Close(handle);
        result.outcome = Outcome::AuthFailed;
        return result;
    }

    result.outcome = Outcome::Completed;
    RecordAppender store(m_settings.receivedMailFile, m_settings.receivedMailTemp);
    if (result.count > 0) {
        if (!QDir().mkpath(m_settings.attachmentFolder)) {
            result.outcome = Outcome::Stopped;
            fail(&result.error, u"添付フォルダを作成できませんでした。"_s, m_settings.attachmentFolder);
        } else if (!store.open(&result.error)) {
            result.outcome = Outcome::Stopped;
        }
    }

    // Written records are made durable together; only then are their
    // messages marked for deletion on the server.
    QList<int> written;
    auto commit = [&] {
        if (written.isEmpty())
            return true;
        Error err;
        bool ok = store.flush(&err);
        if (ok) {
            result.stored += int(written.size());
            for (const int n : std::as_const(written)) {
                if (lib.pop3DeleteMail(handle, n) < 0) {
                    ok = fail(&err, u"%1 通目のメールをサーバーで削除できませんでした。"_s.arg(n),
                              cutAtNul(lib.getMessage()));
                    break;
                }
            }
        }
        written.clear();
        if (!ok && !result.error.isSet()) {
            result.outcome = Outcome::Stopped;
            result.error = err;
        }
        return ok;
    };

    for (int n = 1; n <= result.count && result.outcome == Outcome::Completed; ++n) {
        if (m_cancelled) {
            result.outcome = Outcome::Cancelled;
            break;
        }
        emit progress(n, result.count);
        if (!receiveOne(lib, handle, n, store, &result.error)) {
            result.outcome = Outcome::Stopped;
            break;
        }
        written.append(n);
        if (written.size() >= FlushEvery)
            commit();
    }
    commit();

    // QUIT commits the deletions, which were only given for stored messages.
    if (lib.pop3Close(handle) < 0 && result.stored > 0 && !result.error.isSet()) {
        result.outcome = Outcome::Stopped;
        fail(&result.error,
             u"サーバーとの接続を正しく終了できませんでした。保存したメールがサーバーに残っている場合があります。"_s,
             cutAtNul(lib.getMessage()));
    }
    return result;
}

bool ReceiveSession::receiveOne(MailLib &lib, int handle, int n, RecordAppender &store, Error *err)
{
    if (store.isFull())
        return fail(err, u"受信メールの保存件数が上限（%1 件）に達しています。不要なメールを削除してから受信して下さい。"_s
                             .arg(MailRecordFile::MaxRecords));

    QString subject, date, from, header, body;
    if (lib.pop3GetMail(handle, n, &subject, &date, &from, &header, &body) < 0)
        return fail(err, u"%1 通目のメールを受信できませんでした。"_s.arg(n), cutAtNul(lib.getMessage()));

    // The library extracts from the message it fetched; the header and body
    // text it is handed go as one text, every line ended by CR LF, then NUL.
    QString messageText = cutAtNul(header) + u"\r\n"_s + cutAtNul(body) + u"\r\n"_s;
    messageText.replace(u"\r\n"_s, u"\r"_s).replace(u'\r', u"\r\n"_s);
    messageText += QChar(u'\0');
    const int extracted = lib.attachmentFileFirst(subject, date, from, header, body,
                                                  m_settings.attachmentFolder + u'/', QString(), messageText);
    lib.attachmentFileClose();
    if (extracted == -5)
        emit notice(u"添付ファイルをオープンできません"_s);
    else if (extracted == -6)
        emit notice(u"分割されたメールが全て揃っていません"_s);

    MailRecord record;
    if (!ReceivedRecord::build({subject, date, from, body, extracted}, m_settings.attachmentFolder, &record, err))
        return false;
    if (!store.append(record, err))
        return false;
    emit messageReceived(record.subject, record.address, record.date, record.body);
    return true;
}

} // namespace hollin
