#include "ReceiveSession.h"

#include "storage/Cp932.h"
#include "RecordAppender.h"

#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/TextUtil.h"
#include "transport/MailLib.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

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

QString ReceiveSession::attachmentLine()
{
    return u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪"_s;
}

QString ReceiveSession::fullTextLine(const QString &fileName)
{
    return u"※本文をそのまま保存できなかったため、全文を添付フォルダの「%1」に保存しました。"_s.arg(fileName);
}

ReceiveResult ReceiveSession::run()
{
    using Outcome = ReceiveResult::Outcome;
    ReceiveResult result;
    if (m_settings.pop3Server.isEmpty()) {
        result.outcome = Outcome::NoServer;
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
    record.subject = trimSpaces(cutAtNul(subject));
    record.date = trimSpaces(cutAtNul(date));
    record.address = trimSpaces(cutAtNul(from));
    const QString text = trimSpaces(cutAtNul(body));
    const QString tail = extracted == 1 ? u"\r\n"_s + attachmentLine() : QString();
    record.body = trimSpaces(text + tail);

    bool replaced = false, cut = false;
    Cp932::encodeField(record.body, MailRecordFile::BodyWidth, &replaced, &cut);
    if (replaced || cut) {
        // The record cannot hold this body: keep the whole text beside the
        // attachments and store as much as fits, ending with where the rest is.
        const QString fileName = saveFullBody(record.body, err);
        if (fileName.isEmpty())
            return false;
        const QString ending = tail + u"\r\n"_s + fullTextLine(fileName);
        const int room = MailRecordFile::BodyWidth - int(Cp932::encode(ending).size());
        const QString head = trimSpaces(Cp932::decode(Cp932::encodeField(text, room)));
        record.body = head + ending;
    }

    if (!store.append(record, err))
        return false;
    emit messageReceived(record.subject, record.address, record.date, record.body);
    return true;
}

QString ReceiveSession::saveFullBody(const QString &body, Error *err)
{
    const QDir folder(m_settings.attachmentFolder);
    const QString stem = u"本文_"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    const QByteArray bytes = body.toUtf8();
    for (int i = 1; i < 1000; ++i) {
        const QString name = i == 1 ? stem + u".txt"_s : u"%1_%2.txt"_s.arg(stem).arg(i);
        QFile file(folder.filePath(name));
        if (file.exists())
            continue;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, file.fileName() + u": "_s + file.errorString());
            return {};
        }
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, file.fileName() + u": "_s + file.errorString());
            file.close();
            file.remove();
            return {};
        }
        return name;
    }
    fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, stem);
    return {};
}

} // namespace hollin
