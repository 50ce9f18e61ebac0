#include "SendJob.h"

#include "storage/AddressBookFile.h"
#include "storage/OwnSettings.h"
#include "storage/SentMailFile.h"
#include "storage/TextUtil.h"
#include "transport/MailComposer.h"
#include "transport/MailLib.h"

#include <QDateTime>
#include <QThread>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

QString SendRequest::senderOf(const QString &address, const QString &name)
{
    const QString bare = MailComposer::envelopeAddress(address);
    if (name.trimmed().isEmpty() || bare.isEmpty())
        return address;
    return name.trimmed() + u" <"_s + bare + u'>';
}

SendRequest SendRequest::fromState(const AppState &state)
{
    SendRequest request;
    request.smtpServer = state.smtpServer;
    request.from = senderOf(state.mailAddress, OwnSettings(state.root.hollinIniFile()).senderName());
    request.accountId = state.accountId;
    request.accountPassword = state.accountPassword;
    request.sentFile = SentMailFile::pathIn(state.root.dataFolder());
    return request;
}

QList<SendRecipient> SendRequest::single(const QString &recipient)
{
    return {SendRecipient{recipient, recipient}};
}

bool SendRequest::addressBook(const DataRoot &root, QList<SendRecipient> *out, Error *err)
{
    out->clear();
    AddressBookFile book(root.addressBookFile(), root.addressBookTemp());
    return book.readAll([out](int, const AddressEntry &entry) {
        out->append(SendRecipient{entry.address, trimTrailingSpaces(entry.address)});
        return true;
    }, err);
}

bool SendResult::succeeded() const
{
    return passes > 0 && attempted == passes && failures.isEmpty() && refusals.isEmpty();
}

QStringList SendResult::refusedAddresses() const
{
    QStringList addresses;
    for (const SendFailure &r : refusals)
        addresses += r.recipient.split(u", "_s);
    return addresses;
}

QString SendResult::statusText() const
{
    if (succeeded())
        return u"送信完了です。"_s;
    if (passes == 0)
        return u"送信先がありません。送信しませんでした。"_s;
    if (stoppedAtConnection)
        return u"サーバーとの接続に失敗したため、%1 件中 %2 件目で送信を止めました（届いたのは %3 件）。"_s
            .arg(passes).arg(attempted).arg(attempted - failures.size() - refusals.size());
    if (cancelled && failures.isEmpty())
        return u"送信を中止しました。%1 件中 %2 件を送信しました。"_s.arg(passes).arg(attempted);
    if (cancelled)
        return u"送信を中止しました。%1 件中 %2 件を送信し、うち %3 件が失敗しました。"_s
            .arg(passes).arg(attempted).arg(failures.size());
    if (failures.isEmpty())
        return u"送信しましたが、受け付けられなかった宛先があります（%1 件）。"_s.arg(refusedAddresses().size());
    return u"%1 件中 %2 件の送信に失敗しました。"_s.arg(passes).arg(failures.size());
}

QString SendResult::errorText() const
{
    if (failures.size() == 1 && refusals.isEmpty())
        return u"メールを送信できませんでした。\n\n詳細：%1"_s.arg(failures.first().message);
    if (failures.isEmpty() && refusals.size() == 1)
        return refusals.first().message;
    QStringList parts;
    if (!failures.isEmpty())
        parts.append(u"%1 件のメールを送信できませんでした。"_s.arg(failures.size()));
    if (!refusals.isEmpty())
        parts.append(u"%1 件のメールで、受け付けられなかった宛先があります。"_s.arg(refusals.size()));
    QList<SendFailure> all = failures + refusals;
    std::sort(all.begin(), all.end(), [](const SendFailure &a, const SendFailure &b) { return a.pass < b.pass; });
    for (const SendFailure &f : std::as_const(all))
        parts.append(u"%1 件目（%2）の詳細：\n%3"_s.arg(f.pass).arg(f.recipient, f.message));
    return parts.join(u"\n\n"_s);
}

QString SendResult::keepErrorText() const
{
    if (notKept == 0)
        return {};
    return u"送信しましたが、送信済みメールの控えを保存できませんでした（%1 件）。\n\n詳細：%2"_s
        .arg(notKept).arg(keepError.text());
}

QList<SendRecipient> SendResult::undelivered(const QList<SendRecipient> &sent) const
{
    QList<SendRecipient> left;
    for (const SendFailure &f : failures)
        left.append(sent.at(f.pass - 1));
    for (const SendFailure &r : refusals) // only the refused ones: the others have it
        left.append(SendRecipient{r.recipient, r.recipient});
    left.append(sent.mid(attempted));
    return left;
}

QList<SendRecipient> SendResult::delivered(const QList<SendRecipient> &sent) const
{
    QList<SendRecipient> got;
    const QStringList refused = refusedAddresses();
    for (int pass = 1; pass <= attempted; ++pass) {
        const bool failed = std::any_of(failures.cbegin(), failures.cend(),
                                        [pass](const SendFailure &f) { return f.pass == pass; });
        if (!failed && !refused.contains(sent.at(pass - 1).address))
            got.append(sent.at(pass - 1));
    }
    return got;
}

QString SendResult::resendQuestion(const QList<SendRecipient> &undelivered)
{
    QStringList addresses;
    for (const SendRecipient &r : undelivered)
        addresses.append(r.address);
    return u"前回の一括送信は次のアドレスに届いていません。\n\n%1\n\n"
           u"このアドレスだけに送信しますか？（「いいえ」でアドレス帳の全員に送信します）"_s
        .arg(addresses.join(u'\n'));
}

SendJob::SendJob(SendRequest request, QObject *parent)
    : QObject(parent), m_request(std::move(request))
{
}

SendJob::~SendJob()
{
    cancel();
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void SendJob::start()
{
    Q_ASSERT(!m_thread);
    m_thread = QThread::create([this] {
        m_result = run(m_request, [this](int pass, int passes, const SendRecipient &recipient) {
            emit passStarted(pass, passes, recipient.shown);
        }, &m_cancelled);
    });
    // The worker's end is seen on this object's thread, after m_result is complete.
    connect(m_thread, &QThread::finished, this, &SendJob::finished, Qt::QueuedConnection);
    m_thread->start();
}

bool SendJob::isRunning() const
{
    return m_thread && !m_thread->isFinished();
}

void SendJob::cancel()
{
    m_cancelled = true;
}

SendResult SendJob::run(const SendRequest &request,
                        const std::function<void(int, int, const SendRecipient &)> &passStarted,
                        const std::atomic_bool *cancelled)
{
    SendResult result;
    result.passes = int(request.recipients.size());
    result.smtpServer = request.smtpServer;
    if (request.recipients.isEmpty())
        return result;

    MailLib lib;
    lib.setSmtpCredentials(request.accountId, request.accountPassword);
    lib.setThreadHeaders(request.inReplyTo, request.references);
    for (int k = 1; k <= result.passes; ++k) {
        if (cancelled && *cancelled) {
            result.cancelled = true;
            break;
        }
        const SendRecipient &recipient = request.recipients.at(k - 1);
        if (passStarted)
            passStarted(k, result.passes, recipient);
        ++result.attempted;
        QString server = result.smtpServer;
        const int rc = lib.smtpSendMail(server, recipient.address, request.cc, request.bcc, request.from,
                                        request.subject, request.body, QString(), request.attachments, 0);
        result.smtpServer = server;
        if (rc >= 0 && !request.sentFile.isEmpty()) {
            Error err;
            if (!SentMailFile(request.sentFile).append(lib.lastSentMessage(), QDateTime::currentSecsSinceEpoch(), &err)) {
                if (result.notKept == 0)
                    result.keepError = err;
                ++result.notKept;
            }
        }
        if (rc < 0) {
            result.failures.append(SendFailure{k, recipient.address, lib.getMessage()});
            if (lib.smtpConnectionFailed() && k < result.passes) {
                result.stoppedAtConnection = true;
                break;
            }
        } else if (rc > 0)
            result.refusals.append(SendFailure{k, lib.refusedRecipients().join(u", "_s), lib.getMessage()});
    }
    lib.smtpDisconnect();
    return result;
}

QString SendJob::sendingText()
{
    return u"メールを送信中です。しばらくお待ち下さい。"_s;
}

QString SendJob::progressText(int pass, int passes)
{
    return u"送信中 %1 / %2"_s.arg(pass).arg(passes);
}

QString SendJob::errorTitle()
{
    return u"送信エラー"_s;
}

} // namespace hollin
