#include "ReceiveSession.h"

#include "MessageSelection.h"
#include "ReceivedRecord.h"
#include "storage/RecordAppender.h"
#include "storage/AccountStore.h"
#include "storage/UidlList.h"

#include "storage/DataFolderLock.h"
#include "storage/FileIo.h"
#include "storage/MailRecordFile.h"
#include "storage/ReceiveLock.h"
#include "storage/ThreadIndex.h"
#include "storage/TextUtil.h"
#include "transport/AttachmentExtractor.h"
#include "transport/MailLib.h"
#include "transport/MessageKey.h"
#include "transport/PlainLoginConsent.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
// Messages per connection on a server without UIDL: a kill can make the next
// receive store at most this many twice.
constexpr int FlushEvery = 50;
// A deletion compacting a large record file may hold the write lock for
// seconds: the receive waits for it rather than failing.
constexpr int WriteWaitMs = 30000;
// A server that refuses message after message is not waited through: each
// refusal is noted on disk, and thousands of them would take many minutes.
constexpr int RefusalsPerReceive = 20;
} // namespace

ReceiveSession::ReceiveSession(const ReceiveSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
}

ReceiveSession::~ReceiveSession() = default;

void ReceiveSession::cancel()
{
    const std::lock_guard guard(m_cancelMutex);
    m_cancelled = true;
    m_cutWaits = m_fetching;
}

void ReceiveSession::abort()
{
    const std::lock_guard guard(m_cancelMutex);
    m_cancelled = true;
    m_aborted = true;
    m_cutWaits = true;
}

void ReceiveSession::setFetching(bool fetching)
{
    const std::lock_guard guard(m_cancelMutex);
    m_fetching = fetching;
    m_cutWaits = m_aborted || (fetching && m_cancelled);
}

ReceiveResult ReceiveSession::run()
{
    using Outcome = ReceiveResult::Outcome;
    ReceiveResult result;
    if (m_settings.pop3Server.isEmpty()) {
        result.outcome = Outcome::NoServer;
        return result;
    }

    const QString dataFolder = QFileInfo(m_settings.receivedMailFile).absolutePath();
    ReceiveLock receiving(dataFolder);
    if (!receiving.take(&result.error)) {
        result.outcome = Outcome::Stopped;
        return result;
    }
    // Taken around each write only: the session never waits for the server
    // while other writers wait for it.
    DataFolderLock writing(dataFolder, u"受信"_s);

    MailLib lib;
    lib.setCancelFlag(&m_cutWaits);
    lib.setHoldAttachments(true); // named only once noted in the stored-message list
    setFetching(true);
    int handle = lib.pop3Connect(m_settings.pop3Server);
    if (handle == -1) {
        result.outcome = m_cancelled ? Outcome::Cancelled : Outcome::NoConnection;
        fail(&result.error, u"POP3 サーバーに接続できませんでした。"_s, cutAtNul(lib.getMessage()));
        return result;
    }

    const bool typed = !m_settings.accountId.isEmpty();
    const AccountStore::Account account = typed
        ? AccountStore::Account{m_settings.accountId, m_settings.accountPassword}
        : AccountStore(m_settings.idPassIniFile).load();
    const QString &id = account.id;
    const QString &password = account.password;
    emit accountRead(id, password);
    if (id.isEmpty() || password.isEmpty()) {
        lib.pop3Close(handle);
        result.outcome = Outcome::NeedAccount;
        return result;
    }

    if (m_settings.confirmPlainLogin && !lib.pop3IsEncrypted(handle)
        && !m_settings.confirmPlainLogin(m_settings.pop3Server)) {
        lib.pop3Close(handle);
        result.outcome = Outcome::PlainRefused;
        fail(&result.error, PlainLoginConsent::refusal());
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
    UidlList uidls(m_settings.uidlListFile, m_settings.receivedMailFile,
                   UidlList::accountKey(m_settings.pop3Server, id));
    // Recognises mail stored before when its id cannot: a damaged UIDL list,
    // a server that renumbered its ids, a server without ids.
    UidlList keys(m_settings.storedMessageListFile, m_settings.receivedMailFile,
                  QString::fromUtf16(UidlList::StoredMessages));
    ThreadIndex threads(ThreadIndex::pathIn(QFileInfo(m_settings.receivedMailFile).absolutePath()));
    if (result.count == 0) {
        // Nothing to fetch: only what a killed rewrite of the lists or a cut
        // clean-up of a split mail left is cleared.
        bool cleared = writing.take(&result.error, WriteWaitMs)
            && fileio::removeStaleTemporaries(m_settings.uidlListFile, &result.error)
            && fileio::removeStaleTemporaries(m_settings.storedMessageListFile, &result.error);
        if (cleared && QFileInfo::exists(m_settings.attachmentFolder + u"/.partial"_s)) {
            cleared = keys.load(&result.error);
            if (cleared)
                removeStoredSplitSets(keys);
        }
        writing.release();
        if (!cleared)
            result.outcome = Outcome::Stopped;
    } else {
        if (!fileio::makeFolders(m_settings.attachmentFolder, &result.error)) {
            result.outcome = Outcome::Stopped;
        } else if (!writing.take(&result.error, WriteWaitMs) || !store.sync(&result.error)
                   || !uidls.load(&result.error) || !keys.load(&result.error)) {
            result.outcome = Outcome::Stopped;
        } else {
            removeStoredSplitSets(keys);
        }
        writing.release();
        if (uidls.unreadableLines() > 0)
            emit notice(u"受信済みメールの一覧（%1）の %2 行が壊れていて読めませんでした（その行は「%3」に移して残しました）。"
                        u"保存済みのメールは内容で見分け、二重には保存しません。"_s
                            .arg(QFileInfo(m_settings.uidlListFile).fileName())
                            .arg(uidls.unreadableLines())
                            .arg(QFileInfo(uidls.keptAside()).fileName()));
    }
    auto stop = [&](const Error &err) {
        if (result.outcome == Outcome::Completed) {
            result.outcome = Outcome::Stopped;
            result.error = err;
        }
    };

    // Order of writing, so that a kill or a power cut at any moment loses
    // nothing and stores nothing twice:
    //   1. per message: the attachments, then a pending line in both lists
    //      (its id, record number and the record's hash), its thread line,
    //      then the record;
    //   2. before QUIT (without UIDL: per batch): the attachment files, the
    //      pending lines and the thread lines are flushed, then the records;
    //      the lists are rewritten with them stored, then they are deleted (DELE);
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
        bool ok = writing.take(&err, WriteWaitMs)
            && (!m_unflushedFiles || fileio::flushFileSystemOf(m_settings.attachmentFolder, &err))
            && uidls.flushPending(&err) && keys.flushPending(&err) && threads.flush(&err) && store.flush(&err);
        // A split mail's fragments go only once its record is durable (what
        // a kill or a failure leaves, the next receive's clean-up removes).
        Error fragmentsLeft;
        if (ok)
            AttachmentExtractor::removeFragments(std::exchange(m_doneFragments, {}), &fragmentsLeft);
        ok = ok && uidls.commit(&err) && keys.commit(&err);
        writing.release();
        if (fragmentsLeft.isSet())
            emit notice(fragmentsLeft.text());
        m_unflushedFiles = m_unflushedFiles && !ok;
        if (ok && deleteFetched) {
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
    QStringList failedNow;      // refused by the server this time: tried again next time
    QStringList skipped;        // refused too often: left on the server without asking
    for (int count = result.count; result.outcome == Outcome::Completed;) {
        QStringList uids;
        if (count > 0 && lib.pop3GetUidl(handle, &uids) < 0) {
            stop({u"メールの一覧（UIDL）を受け取れませんでした。"_s, cutAtNul(lib.getMessage())});
            break;
        }
        const bool haveUids = uids.size() == count && count > 0
            && QSet<QString>(uids.cbegin(), uids.cend()).size() == count
            && std::all_of(uids.cbegin(), uids.cend(), &UidlList::isUsableId);
        if (m_settings.keep.keepOnServer && !haveUids && count > 0) {
            // Without ids every receive would store the kept mail again, and
            // deleting it is what the user asked not to do.
            stop({u"このサーバーはメールの識別番号（UIDL）を正しく返さないため、メールをサーバーに残したまま受信することができません。"
                  u"サーバーのメールは受信も削除もしていません。"
                  u"受信するには、設定の「受信したメールをサーバーに残す」を外して下さい。"_s,
                  uids.isEmpty() ? u"UIDL に対応していません"_s : u"UIDL に重複または使えない識別番号があります"_s});
            lib.pop3Close(handle);
            break;
        }
        if (!haveUids)
            uids.clear();
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
            const QString uid = uids.value(n - 1);
            if (m_cancelled) {
                result.outcome = Outcome::Cancelled;
                break;
            }
            emit progress(handled + i + 1, total);
            if (haveUids && !m_settings.retrySkipped && uidls.failures(uid) >= FailuresBeforeSkipping) {
                skipped << u"%1 通目"_s.arg(n);
                continue;
            }
            Fetched mail;
            if (lib.pop3GetMail(handle, n, &mail.subject, &mail.date, &mail.from, &mail.header, &mail.body) < 0) {
                if (m_cancelled) {
                    result.outcome = Outcome::Cancelled;
                    break;
                }
                const Error why{u"%1 通目のメールを受信できませんでした。"_s.arg(n), cutAtNul(lib.getMessage())};
                Error err;
                const bool counted = !haveUids
                    || (writing.take(&err, WriteWaitMs) && uidls.noteFailure(uid, &err));
                writing.release();
                if (!counted) {
                    stop(err);
                    break;
                }
                // The server refused this one message: the others may still come.
                if (!lib.pop3IsConnected(handle)) {
                    stop(why);
                    break;
                }
                failedNow << u"%1 通目"_s.arg(n);
                if (failedNow.size() >= RefusalsPerReceive) {
                    stop({u"サーバーが %1 通のメールを渡さなかったため、受信を途中で止めました。"
                          u"しばらくしてから、もう一度受信して下さい。"_s.arg(failedNow.size()),
                          why.detail});
                    break;
                }
                continue;
            }
            if (keys.isKnown(lib.lastMessageKey())) {
                // Stored before: deleted (or kept) like a stored one, not stored again.
                if (haveUids)
                    uidls.markStored(uid);
                written.append(n);
                continue;
            }
            Error err;
            const bool ok = writing.take(&err, WriteWaitMs)
                && storeOne(lib, n, {uid, lib.lastMessageKey()}, mail, store, haveUids ? &uidls : nullptr, keys, threads,
                            &err);
            writing.release();
            if (m_incompleteSplit) // asked once the lock is free: the box may wait for the user
                emit notice(u"分割されたメールが全て揃っていません"_s);
            if (!ok) {
                stop(err);
                break;
            }
            ++result.stored;
            written.append(n);
            if (!haveUids && written.size() >= FlushEvery) {
                commit();
                batchFull = true;
                break;
            }
        }
        // Stored messages are deleted and the QUIT commits them even after a cancel.
        setFetching(false);
        commit();

        // QUIT commits the deletions, which were only given for stored messages.
        const int quitResult = lib.pop3Close(handle);
        if (quitResult < 0 && !deleted.isEmpty() && result.outcome == Outcome::Completed) {
            stop({u"サーバーとの接続を正しく終了できませんでした。保存したメールのうち %1 件がサーバーに残っている場合がありますが、"
                  u"次の受信で見分けるので、もう一度保存することはありません。"_s.arg(deleted.size()),
                  cutAtNul(lib.getMessage())});
        }
        if (quitResult == 0 && haveUids) {
            QSet<QString> left;
            for (int n = 1; n <= count; ++n) {
                if (!deleted.contains(n))
                    left.insert(uids[n - 1]);
            }
            Error err;
            const bool pruned = writing.take(&err, WriteWaitMs) && uidls.prune(left, &err);
            writing.release();
            if (!pruned)
                stop(err);
        }
        handle = -1;
        if (!batchFull || quitResult < 0 || result.outcome != Outcome::Completed)
            break;

        // A server without UIDL: the next batch on a new connection.
        setFetching(true);
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
    QStringList told;
    if (!failedNow.isEmpty())
        told << u"次のメールはサーバーから受け取れなかったため、サーバーに残しました：%1（%2 回続けて受け取れないと、それからは受信せずに残します）。"_s
                    .arg(failedNow.join(u'、'))
                    .arg(FailuresBeforeSkipping);
    if (!skipped.isEmpty())
        told << u"次のメールは %1 回続けて受け取れなかったため、受信せずにサーバーに残しました：%2。"
                u"受信ボタンで受信すると（hollin-cli では receive --retry-skipped）、もう一度受け取ってみます。"_s
                    .arg(FailuresBeforeSkipping)
                    .arg(skipped.join(u'、'));
    if (!told.isEmpty())
        emit notice(told.join(u'\n') + u"ほかのメールは受信しました。"_s);
    return result;
}

void ReceiveSession::removeStoredSplitSets(const UidlList &keys) const
{
    AttachmentExtractor::removeStoredSets(m_settings.attachmentFolder,
                                          [&keys](const QByteArray &raw) { return keys.isKnown(messageKey(raw)); });
}

bool ReceiveSession::storeOne(MailLib &lib, int n, const Ids &ids, const Fetched &mail, RecordAppender &store,
                              UidlList *uidls, UidlList &keys, ThreadIndex &threads, Error *err)
{
    if (!store.sync(err))
        return false;
    if (store.isFull())
        return fail(err, u"受信メールの保存件数が上限（%1 件）に達しています。不要なメールを削除してから受信して下さい。"_s
                             .arg(MailRecordFile::MaxRecords));

    const auto &[subject, date, from, header, body] = mail;
    // The library extracts from the message it fetched; the header and body
    // text it is handed go as one text, every line ended by CR LF, then NUL.
    QString messageText = cutAtNul(header) + u"\r\n"_s + cutAtNul(body) + u"\r\n"_s;
    messageText.replace(u"\r\n"_s, u"\r"_s).replace(u'\r', u"\r\n"_s);
    messageText += QChar(u'\0');
    const int extracted = lib.attachmentFileFirst(subject, date, from, header, body,
                                                  m_settings.attachmentFolder + u'/', QString(), messageText);
    const std::vector<AttachmentExtractor::HeldFile> held = lib.takeHeldAttachments();
    const QStringList doneFragments = lib.takeDoneFragments();
    QStringList files = lib.lastAttachmentFiles();
    const QString wholeMessageFile = lib.lastWholeMessageFile();
    if (!wholeMessageFile.isEmpty())
        files << wholeMessageFile;
    const QString extractError = cutAtNul(lib.getMessage());
    lib.attachmentFileClose();
    // A mail whose attachment cannot be written is not stored: it and the
    // ones after it stay on the server until the cause is fixed.
    if (extracted == -5)
        return fail(err, u"添付ファイルをオープンできません。%1 通目のメール（件名「%2」）とそれ以降のメールはサーバーに残しました。"
                         u"添付フォルダの空き容量などを確かめてから、もう一度受信して下さい。"_s
                             .arg(n).arg(cutAtNul(subject)),
                    extractError);
    m_incompleteSplit = extracted == -6;

    // Until its record is written, the files of this mail are removed again
    // on any failure: the mail stays on the server and brings them next time.
    auto failed = [&] {
        for (const QString &name : std::as_const(files))
            QFile::remove(m_settings.attachmentFolder + u'/' + name); // a plain join: a name from mail may look like a Qt path
        return false;
    };
    MailRecord record;
    ReceivedRecord::FullText fullText;
    if (!ReceivedRecord::build({subject, date, from, body, extracted, wholeMessageFile}, m_settings.attachmentFolder,
                               &record, err, &fullText))
        return failed();
    if (!fullText.name.isEmpty() && !fullText.unnamed.isOpen())
        files << fullText.name; // the file system has no unnamed files: named at once
    // Written files (attachments, a kept fragment, the whole message, the
    // full text) must be on disk before the record that tells of them.
    m_unflushedFiles = m_unflushedFiles || extracted != 0 || !files.isEmpty() || !fullText.name.isEmpty();
    const QByteArray bytes = MailRecordFile::encode(record);
    // The attachments written without names are noted with the names they
    // get, then named: a kill before the record leaves nothing behind (the
    // next load removes what was noted).
    const QStringList names = AttachmentExtractor::freeNames(m_settings.attachmentFolder, held, err);
    if (names.size() != qsizetype(held.size()))
        return failed();
    QList<UidlList::NotedFile> noted;
    for (size_t i = 0; i < held.size(); ++i)
        noted.append({m_settings.attachmentFolder + u'/' + names[qsizetype(i)], held[i].identity});
    // Files named at once (the whole message, the full text, attachments
    // where the file system cannot write unnamed files) are noted too.
    for (const QString &name : std::as_const(files))
        noted.append(UidlList::notedFile(m_settings.attachmentFolder + u'/' + name));
    if (fullText.unnamed.isOpen())
        noted.append({m_settings.attachmentFolder + u'/' + fullText.name, fullText.identity});
    auto dropPending = [&] {
        if (uidls)
            uidls->dropPending(ids.uid);
        keys.dropPending(ids.key);
    };
    if ((uidls && !uidls->addPending(ids.uid, store.nextNumber(), bytes, err))
        || !keys.addPending(ids.key, store.nextNumber(), bytes, err, noted)
        || !AttachmentExtractor::nameHeld(m_settings.attachmentFolder, held, names, err)) {
        dropPending();
        return failed();
    }
    files << names;
    if (!ReceivedRecord::nameFullText(m_settings.attachmentFolder, fullText, err)) {
        dropPending();
        return failed();
    }
    if (fullText.unnamed.isOpen())
        files << fullText.name;
    m_unflushedFiles = m_unflushedFiles || !names.isEmpty();
    // Before the record, so that a kill between the two cannot leave the mail
    // unthreaded (a line without its record is never looked up). Only a
    // reply's threading depends on it: a failure is told, the mail is kept.
    const QByteArray rawHeader = header.toUtf8();
    Error threadErr;
    if (!threads.add(ThreadIndex::digest(bytes), headerValue(rawHeader, "message-id"),
                     headerValue(rawHeader, "references"), &threadErr))
        emit notice(u"メール（件名「%1」）の Message-ID を保存できませんでした。このメールへの返事はスレッドになりません。\n%2"_s
                        .arg(cutAtNul(subject), threadErr.text()));
    if (!store.append(bytes, err)) {
        dropPending();
        return failed();
    }
    m_doneFragments << doneFragments;
    emit messageReceived(record.subject, record.address, record.date, record.body);
    return true;
}

} // namespace hollin
