#include "ReceiveSession.h"

#include "MessageSelection.h"
#include "ReceivedRecord.h"
#include "RecordAppender.h"
#include "UidlList.h"

#include "storage/DataFolderLock.h"
#include "storage/FileIo.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/TextUtil.h"
#include "transport/MailLib.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
// Messages per connection on a server without UIDL: a kill can make the next
// receive store at most this many twice.
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
    lib.setCancelFlag(&m_cancelled);
    int handle = lib.pop3Connect(m_settings.pop3Server);
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

    const int apop = m_settings.apopFlag != 0 ? -1 : 0;
    result.count = lib.pop3Authenticate(handle, id, password, apop);
    if (result.count < 0) {
        fail(&result.error, cutAtNul(lib.getMessage()));
        result.count = 0;
        lib.pop3Close(handle);
        result.outcome = Outcome::AuthFailed;
        return result;
    }

    result.outcome = Outcome::Completed;
    RecordAppender store(m_settings.receivedMailFile, m_settings.receivedMailTemp);
    UidlList uidls(m_settings.uidlListFile, m_settings.receivedMailFile);
    if (result.count > 0) {
        if (!QDir().mkpath(m_settings.attachmentFolder)) {
            result.outcome = Outcome::Stopped;
            fail(&result.error, u"添付フォルダを作成できませんでした。"_s, m_settings.attachmentFolder);
        } else if (!store.open(&result.error) || !uidls.load(&result.error)) {
            result.outcome = Outcome::Stopped;
        }
    }
    auto stop = [&](const Error &err) {
        if (result.outcome == Outcome::Completed) {
            result.outcome = Outcome::Stopped;
            result.error = err;
        }
    };

    // Order of writing, so that a kill at any moment loses nothing and stores
    // nothing twice:
    //   1. per message: the attachments, then a pending line in the UIDL list
    //      (its id, record number and the record's hash), then the record;
    //   2. before QUIT (without UIDL: per batch): the attachment files and the
    //      records are flushed, the UIDL list is rewritten with them stored,
    //      then they are deleted (DELE);
    //   3. QUIT commits the deletions; the list then forgets what the server
    //      no longer has.
    // A kill before 2 leaves pending lines: the next receive keeps those whose
    // record is in the file (and deletes their messages unfetched) and fetches
    // the others again. A kill after 2 leaves stored ids whose messages are
    // still on the server: they are deleted unfetched (or kept). No DELE is
    // ever given for a message whose record is not flushed and listed.
    QList<int> written;
    QSet<int> deleted;
    bool deleteFetched = true;
    auto commit = [&] {
        if (written.isEmpty())
            return true;
        Error err;
        bool ok = (!m_unflushedFiles || fileio::flushFileSystemOf(m_settings.attachmentFolder, &err))
            && store.flush(&err) && uidls.commit(&err);
        m_unflushedFiles = m_unflushedFiles && !ok;
        if (ok) {
            result.stored += int(written.size());
            if (!deleteFetched) // kept on the server
                written.clear();
            for (const int n : std::as_const(written)) {
                if (lib.pop3DeleteMail(handle, n) < 0) {
                    ok = fail(&err, u"%1 通目のメールをサーバーで削除できませんでした。"_s.arg(n),
                              cutAtNul(lib.getMessage()));
                    break;
                }
                deleted.insert(n);
            }
        }
        written.clear();
        if (!ok)
            stop(err);
        return ok;
    };

    // One pass per connection; without UIDL a new connection after every batch.
    int handled = 0;            // messages dealt with in earlier connections
    int total = result.count;
    bool toldCannotKeep = false;
    for (int count = result.count; result.outcome == Outcome::Completed;) {
        QStringList uids;
        if (count > 0 && lib.pop3GetUidl(handle, &uids) < 0) {
            stop({u"メールの一覧（UIDL）を受け取れませんでした。"_s, cutAtNul(lib.getMessage())});
            break;
        }
        const bool haveUids = uids.size() == count && count > 0
            && QSet<QString>(uids.cbegin(), uids.cend()).size() == count
            && std::all_of(uids.cbegin(), uids.cend(), &UidlList::isUsableId);
        if (!haveUids)
            uids.clear();
        if (m_settings.keep.keepOnServer && !haveUids && count > 0 && !toldCannotKeep) {
            toldCannotKeep = true;
            emit notice(u"このサーバーはメールの識別番号（UIDL）に対応していないため、メールをサーバーに残せません。"
                        u"受信したメールはこれまでどおりサーバーから削除します。"_s);
        }
        const MessageSelection selection =
            selectMessages(count, uids, uidls, m_settings.keep, QDateTime::currentSecsSinceEpoch());
        deleteFetched = selection.deleteFetched;
        if (haveUids && handled == 0)
            total = result.count = int(selection.fetch.size());

        // Stored before: by a receive that did not get to QUIT, or kept until now.
        for (const int n : selection.deleteUnfetched) {
            if (lib.pop3DeleteMail(handle, n) < 0) {
                stop({u"%1 通目のメールをサーバーで削除できませんでした。"_s.arg(n), cutAtNul(lib.getMessage())});
                break;
            }
            deleted.insert(n);
        }

        bool batchFull = false;
        for (int i = 0; i < selection.fetch.size() && handled + i < total && result.outcome == Outcome::Completed;
             ++i) {
            const int n = selection.fetch[i];
            if (m_cancelled) {
                result.outcome = Outcome::Cancelled;
                break;
            }
            emit progress(handled + i + 1, total);
            Error err;
            if (!receiveOne(lib, handle, n, uids.value(n - 1), store, haveUids ? &uidls : nullptr, &err)) {
                if (m_cancelled)
                    result.outcome = Outcome::Cancelled;
                else
                    stop(err);
                break;
            }
            written.append(n);
            if (!haveUids && written.size() >= FlushEvery) {
                commit();
                batchFull = true;
                break;
            }
        }
        commit();

        // QUIT commits the deletions, which were only given for stored messages.
        const int quitResult = lib.pop3Close(handle);
        if (quitResult < 0 && !deleted.isEmpty() && result.outcome == Outcome::Completed) {
            stop({u"サーバーとの接続を正しく終了できませんでした。保存したメールがサーバーに残っている場合があります。"_s,
                  cutAtNul(lib.getMessage())});
        }
        if (quitResult == 0 && haveUids) {
            QSet<QString> left;
            for (int n = 1; n <= count; ++n) {
                if (!deleted.contains(n))
                    left.insert(uids[n - 1]);
            }
            Error err;
            if (!uidls.prune(left, &err))
                stop(err);
        }
        handle = -1;
        if (!batchFull || quitResult < 0 || result.outcome != Outcome::Completed)
            break;

        // A server without UIDL: the next batch on a new connection.
        handled += int(deleted.size());
        deleted.clear();
        handle = lib.pop3Connect(m_settings.pop3Server);
        count = handle == -1 ? -1 : lib.pop3Authenticate(handle, id, password, apop);
        if (count < 0) {
            stop({u"POP3 サーバーに接続し直せませんでした。"_s, cutAtNul(lib.getMessage())});
            if (handle != -1)
                lib.pop3Close(handle);
            break;
        }
    }
    return result;
}

bool ReceiveSession::receiveOne(MailLib &lib, int handle, int n, const QString &uid, RecordAppender &store,
                                UidlList *uidls, Error *err)
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
    const QString wholeMessageFile = lib.lastWholeMessageFile();
    const QString extractError = cutAtNul(lib.getMessage());
    lib.attachmentFileClose();
    // A mail whose attachment cannot be written is not stored: it and the
    // ones after it stay on the server until the cause is fixed.
    if (extracted == -5)
        return fail(err, u"添付ファイルをオープンできません。%1 通目のメール（件名「%2」）とそれ以降のメールはサーバーに残しました。"
                         u"添付フォルダの空き容量などを確かめてから、もう一度受信して下さい。"_s
                             .arg(n).arg(cutAtNul(subject)),
                    extractError);
    if (extracted == -6)
        emit notice(u"分割されたメールが全て揃っていません"_s);
    // Written files (attachments, a kept fragment, the whole message) must be
    // on disk before the record that tells of them.
    m_unflushedFiles = m_unflushedFiles || extracted != 0 || !wholeMessageFile.isEmpty();

    MailRecord record;
    bool wroteFullText = false;
    if (!ReceivedRecord::build({subject, date, from, body, extracted, wholeMessageFile}, m_settings.attachmentFolder,
                               &record, err, &wroteFullText))
        return false;
    m_unflushedFiles = m_unflushedFiles || wroteFullText;
    const QByteArray bytes = MailRecordFile::encode(record);
    if (uidls && !uidls->addPending(uid, store.nextNumber(), bytes, err))
        return false;
    if (!store.append(bytes, err))
        return false;
    emit messageReceived(record.subject, record.address, record.date, record.body);
    return true;
}

} // namespace hollin
