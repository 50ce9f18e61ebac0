#include "MailLib.h"
#include "MessageKey.h"

#include "AttachmentExtractor.h"
#include "MailComposer.h"
#include "MailDecoder.h"
#include "MimeTree.h"
#include "Pop3Session.h"
#include "SmtpSender.h"
#include "RecipientList.h"

#include <QThreadPool>

#include <algorithm>
#include <deque>
#include <future>
#include <map>
#include <utility>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// RETR commands kept in flight ahead of the message the caller asks for, when
// the server pipelines: at most this many messages and about this many octets
// (always at least the next one).
constexpr int kPipelineMessages = 32;
constexpr qint64 kPipelineOctets = 4 * 1024 * 1024;

struct Decoded {
    DecodedMail mail;
    std::shared_ptr<MimeMessage> parsed; // shared by decoding and extraction
};

Decoded decodeMessage(const QByteArray &raw)
{
    auto parsed = std::make_shared<MimeMessage>(raw);
    DecodedMail mail = MailDecoder::decode(raw, *parsed);
    return {std::move(mail), std::move(parsed)};
}

// Decoding runs ahead of the caller on a thread of its own, by a few messages
// and about this many octets (always at least the next one), so that it never
// waits for the caller to store the message before.
constexpr int kDecodeAheadMessages = 4;
constexpr qint64 kDecodeAheadOctets = 1024 * 1024;

// A message after the one the caller has, read and handed to the decoding thread.
struct ReadAhead {
    int number = 0;
    QByteArray raw;
    Error error; // reading it failed: told when the caller asks for it
    std::future<Decoded> decoded;
};

bool holds(const std::deque<ReadAhead> &ahead, int n)
{
    return std::any_of(ahead.cbegin(), ahead.cend(), [n](const ReadAhead &a) { return a.number == n; });
}

} // namespace

struct MailLib::Private {
    struct Connection {
        std::unique_ptr<Pop3Session> session;
        int count = 0;                 // messages, after login
        bool sizesRead = false;
        QHash<int, qint64> sizes;      // LIST, read once when pipelining
        QSet<int> deleted;             // marked for deletion: never fetched ahead
        std::deque<ReadAhead> ahead;    // in order: the next numbers after the caller's
    };

    std::map<int, Connection> connections;
    int nextHandle = 1;
    int connectMs = 15000;
    int replyMs = 60000;
    const std::atomic_bool *cancel = nullptr;
    QByteArray lastRaw;               // the last fetched message, for extraction
    std::shared_ptr<MimeMessage> lastParsed; // its parse, shared by decoding and extraction
    DecodedMail lastMail;             // and what it decodes to
    int lastHandle = 0;
    int lastNumber = 0;
    QStringList lastAttachments;
    bool holdAttachments = false;
    std::vector<AttachmentExtractor::HeldFile> heldAttachments;
    QStringList doneFragments; // of a split set the last message completed
    QString lastWholeMessage;
    SmtpSender smtp;
    QString smtpUser;
    QString smtpPassword;
    QString message;
    QStringList refused; // of the last send
    QByteArray lastSent; // the bytes of the last send the server took
    QString inReplyTo;   // thread headers of the sends to come
    QString references;
    QThreadPool decoder;  // one thread; waits for its work when destroyed

    Connection *connection(int handle)
    {
        const auto it = connections.find(handle);
        if (it == connections.end()) {
            message = u"POP3 サーバーに接続していません（接続番号 %1）。"_s.arg(handle);
            return nullptr;
        }
        return &it->second;
    }

    void keepRaw(int handle, int n, const QByteArray &raw, const DecodedMail &mail = {},
                 std::shared_ptr<MimeMessage> parsed = {})
    {
        lastRaw = raw;
        lastParsed = std::move(parsed);
        lastMail = mail;
        lastHandle = handle;
        lastNumber = n;
    }

    int failed(const Error &err)
    {
        message = err.text();
        return -1;
    }

    // Message n into last*: from the read-ahead when it holds n, else read and decoded now.
    bool takeMessage(Connection &c, int handle, int n, Error *err)
    {
        while (!c.ahead.empty() && c.ahead.front().number < n)
            c.ahead.pop_front(); // skipped by the caller (kept on the server)
        if (!c.ahead.empty() && c.ahead.front().number == n) {
            ReadAhead ahead = std::move(c.ahead.front());
            c.ahead.pop_front();
            if (ahead.error.isSet()) {
                *err = ahead.error;
                return false;
            }
            const Decoded decoded = ahead.decoded.get();
            keepRaw(handle, n, ahead.raw, decoded.mail, decoded.parsed);
            return true;
        }
        c.ahead.clear(); // the caller went back: what was read ahead is read again when asked for
        fillPipeline(c, n);
        QByteArray raw;
        if (!c.session->retrieve(n, &raw, err))
            return false;
        const Decoded decoded = decodeMessage(raw);
        keepRaw(handle, n, raw, decoded.mail, decoded.parsed);
        return true;
    }

    // Reads the messages after n whose RETRs are already in flight and starts decoding them.
    void readAhead(Connection &c, int n)
    {
        qint64 octets = 0;
        for (const ReadAhead &a : c.ahead)
            octets += a.raw.size();
        int next = c.ahead.empty() ? n + 1 : c.ahead.back().number + 1;
        while (int(c.ahead.size()) < kDecodeAheadMessages && (c.ahead.empty() || octets < kDecodeAheadOctets)
               && next <= c.count && !c.deleted.contains(next)
               && (c.ahead.empty() || !c.ahead.back().error.isSet())) {
            fillPipeline(c, next);
            if (!c.session->isPrefetched(next))
                return;
            ReadAhead &ahead = c.ahead.emplace_back();
            ahead.number = next++;
            if (c.session->retrieve(ahead.number, &ahead.raw, &ahead.error)) {
                auto task = std::make_shared<std::packaged_task<Decoded()>>(
                    [raw = ahead.raw] { return decodeMessage(raw); });
                ahead.decoded = task->get_future();
                decoder.start([task] { (*task)(); });
                octets += ahead.raw.size();
            }
        }
    }

    // Keeps RETRs in flight for n and the messages after it.
    void fillPipeline(Connection &c, int n)
    {
        Pop3Session &s = *c.session;
        if (!s.supportsPipelining())
            return;
        if (!c.sizesRead) {
            c.sizesRead = true;
            Error ignored; // without sizes the window is counted in messages only
            s.listAll(&c.sizes, &ignored);
        }
        // Refilled in bursts of half the window: one write, and one wake-up
        // of the server, for many RETRs.
        if (s.isPrefetched(n) && s.prefetchedCount() > kPipelineMessages / 2)
            return;
        qint64 octets = 0;
        for (int k = n; k <= c.count && k < n + kPipelineMessages; ++k) {
            if (k > n && octets >= kPipelineOctets)
                break;
            if (c.deleted.contains(k))
                continue;
            octets += c.sizes.value(k);
            if (!s.prefetch(k))
                break;
        }
        s.sendQueued();
    }
};

MailLib::MailLib() : d(std::make_unique<Private>())
{
    d->decoder.setMaxThreadCount(1);
}

MailLib::~MailLib()
{
    endWinSock();
}

void MailLib::initializeWinSock()
{
    // Sockets and libcurl need no process-wide start here: SmtpSender
    // initialises libcurl once, Qt its sockets on first use.
}

void MailLib::setOption(int option, int value)
{
    // Option 1 was the size of the caller's text buffers; texts cross this
    // interface as QString and are returned whole, so no option applies.
    Q_UNUSED(option);
    Q_UNUSED(value);
}

void MailLib::setTimeouts(int connectMs, int replyMs)
{
    d->connectMs = connectMs;
    d->replyMs = replyMs;
    d->smtp.setTimeouts(connectMs, replyMs);
}

void MailLib::setCancelFlag(const std::atomic_bool *cancel)
{
    d->cancel = cancel;
}

void MailLib::endWinSock()
{
    // Open POP3 connections end without QUIT: nothing is deleted by surprise.
    d->connections.clear();
    d->smtp.disconnect();
}

int MailLib::pop3Connect(const QString &server)
{
    auto session = std::make_unique<Pop3Session>();
    session->setTimeouts(d->connectMs, d->replyMs);
    session->setCancelFlag(d->cancel);
    Error err;
    if (!session->connectToServer(server, &err))
        return d->failed(err);
    const int handle = d->nextHandle++;
    d->connections[handle].session = std::move(session);
    return handle;
}

int MailLib::pop3Authenticate(int handle, const QString &accountId, const QString &password, int apopFlag)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    Error err;
    int count = 0;
    if (!c->session->login(accountId, password, apopFlag != 0, &err) || !c->session->stat(&count, nullptr, &err))
        return d->failed(err);
    c->count = count;
    return count;
}

int MailLib::pop3GetMailStatus(int handle, int n, QString *subject, QString *date, QString *from, QString *header)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    Error err;
    DecodedMail mail;
    d->fillPipeline(*c, n);
    if (holds(c->ahead, n) || c->session->isPrefetched(n)) {
        // The whole message is on its way anyway: read the header from it.
        if (!d->takeMessage(*c, handle, n, &err))
            return d->failed(err);
        mail = d->lastMail;
    } else {
        QByteArray rawHeader;
        if (!c->session->top(n, 0, &rawHeader, &err))
            return d->failed(err);
        mail = MailDecoder::decodeHeader(rawHeader);
    }
    *subject = mail.subject;
    *date = mail.date;
    *from = mail.from;
    *header = mail.header;
    return 0;
}

int MailLib::pop3GetMailSize(int handle, int n)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    if (c->sizes.contains(n))
        return int(qMin<qint64>(c->sizes.value(n), INT_MAX));
    Error err;
    qint64 size = 0;
    if (!c->session->list(n, &size, &err))
        return d->failed(err);
    return int(qMin<qint64>(size, INT_MAX));
}

int MailLib::pop3GetMail(int handle, int n, QString *subject, QString *date, QString *from, QString *header,
                         QString *body)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    if (!(d->lastHandle == handle && d->lastNumber == n && !d->lastRaw.isEmpty())) {
        Error err;
        if (!d->takeMessage(*c, handle, n, &err))
            return d->failed(err);
        d->readAhead(*c, n);
    } // else the status call already fetched and decoded it whole
    const DecodedMail &mail = d->lastMail;
    *subject = mail.subject;
    *date = mail.date;
    *from = mail.from;
    *header = mail.header;
    *body = mail.body;
    return 0;
}

int MailLib::pop3GetUidl(int handle, QStringList *uids)
{
    uids->clear();
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    QHash<int, QByteArray> byNumber;
    Error err;
    if (!c->session->uidlAll(&byNumber, &err)) {
        if (c->session->isConnected())
            return 0; // refused: the server keeps no unique ids
        return d->failed(err);
    }
    for (int n = 1; n <= c->count; ++n)
        uids->append(QString::fromLatin1(byNumber.value(n)));
    return int(uids->size());
}

int MailLib::pop3DeleteMail(int handle, int n)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    c->deleted.insert(n);
    if (holds(c->ahead, n))
        c->ahead.clear();
    Error err;
    if (!c->session->dele(n, &err))
        return d->failed(err);
    return 0;
}

bool MailLib::pop3IsConnected(int handle) const
{
    Private::Connection *c = d->connection(handle);
    return c && c->session->isConnected();
}

bool MailLib::pop3IsEncrypted(int handle) const
{
    Private::Connection *c = d->connection(handle);
    return c && c->session->isEncrypted();
}

int MailLib::pop3Close(int handle)
{
    Private::Connection *c = d->connection(handle);
    if (!c)
        return -1;
    Error err;
    const bool ok = c->session->quit(&err);
    d->connections.erase(handle);
    return ok ? 0 : d->failed(err);
}

int MailLib::pop3Abort(int handle)
{
    if (!d->connection(handle))
        return -1;
    d->connections.erase(handle);
    return 0;
}

int MailLib::attachmentFileFirst(const QString &subject, const QString &date, const QString &from,
                                 const QString &header, const QString &body, const QString &attachmentFolder,
                                 const QString &textFilePath, const QString &messageText)
{
    // The fetched message itself is extracted; the texts the caller passes
    // back are what it made of that same message.
    Q_UNUSED(subject);
    Q_UNUSED(date);
    Q_UNUSED(from);
    Q_UNUSED(header);
    Q_UNUSED(body);
    Q_UNUSED(textFilePath);
    Q_UNUSED(messageText);
    d->lastAttachments.clear();
    d->heldAttachments.clear();
    d->doneFragments.clear();
    d->lastWholeMessage.clear();
    if (d->lastRaw.isEmpty() || !d->lastParsed) {
        d->message = u"添付ファイルを取り出すメールがありません（先にメールを受信して下さい）。"_s;
        return AttachmentExtractor::NoAttachments;
    }
    Error err;
    const int rc = AttachmentExtractor::extractHeld(d->lastRaw, *d->lastParsed, attachmentFolder, &d->lastAttachments,
                                                    d->holdAttachments ? &d->heldAttachments : nullptr, &err,
                                                    d->holdAttachments ? &d->doneFragments : nullptr);
    if (rc != AttachmentExtractor::CannotCreate && d->lastMail.limitHit) {
        d->lastWholeMessage = AttachmentExtractor::saveWholeMessage(d->lastRaw, attachmentFolder, &err);
        if (d->lastWholeMessage.isEmpty()) {
            d->message = err.text();
            return AttachmentExtractor::CannotCreate;
        }
    }
    if (err.isSet())
        d->message = err.text();
    return rc;
}

void MailLib::attachmentFileClose()
{
    d->keepRaw(0, 0, {});
}

void MailLib::setHoldAttachments(bool hold)
{
    d->holdAttachments = hold;
}

std::vector<AttachmentExtractor::HeldFile> MailLib::takeHeldAttachments()
{
    return std::exchange(d->heldAttachments, {});
}

QStringList MailLib::takeDoneFragments()
{
    return std::exchange(d->doneFragments, {});
}

QString MailLib::lastMessageKey() const
{
    return messageKey(d->lastRaw);
}

QStringList MailLib::lastAttachmentFiles() const
{
    return d->lastAttachments;
}

void MailLib::setSmtpCredentials(const QString &accountId, const QString &password)
{
    d->smtpUser = accountId;
    d->smtpPassword = password;
}

int MailLib::smtpSendMail(QString &server, const QString &to, const QString &cc, const QString &bcc,
                          const QString &from, const QString &subject, const QString &body,
                          const QString &reserved, const QString &attachments, int flags)
{
    Q_UNUSED(reserved);
    Q_UNUSED(flags);
    d->refused.clear();
    d->lastSent.clear();
    if (to.contains(u'\r') || to.contains(u'\n') || to.contains(QChar(0))) {
        d->message = u"宛先に改行などの制御文字が含まれているため、送信しませんでした。"_s;
        return -1;
    }
    QList<Recipient> toList, ccList, bccList;
    Error err;
    if (!RecipientList::parse(to, u"宛先"_s, &toList, &err)
        || (!cc.trimmed().isEmpty() && !RecipientList::parse(cc, u"Cc"_s, &ccList, &err))
        || (!bcc.trimmed().isEmpty() && !RecipientList::parse(bcc, u"Bcc"_s, &bccList, &err))) {
        d->message = err.message;
        return -1;
    }
    QStringList envelope; // each address once: a repeated RCPT may deliver twice
    for (const Recipient &r : toList + ccList + bccList) {
        if (!envelope.contains(r.address, Qt::CaseInsensitive))
            envelope.append(r.address);
    }
    OutgoingMail mail;
    mail.from = from;
    mail.to = to;
    mail.cc = cc;
    mail.subject = subject;
    mail.body = body;
    mail.inReplyTo = d->inReplyTo;
    mail.references = d->references;
    for (const QString &path : attachments.split(u',', Qt::SkipEmptyParts))
        mail.attachments << path;
    const QByteArray bytes = MailComposer::build(mail, &err);
    if (bytes.isEmpty())
        return d->failed(err.isSet() ? err : Error{u"メールを組み立てられませんでした。"_s, {}});
    d->smtp.setCredentials(d->smtpUser, d->smtpPassword);
    QList<SmtpSender::Refusal> refused;
    if (!d->smtp.send(server, MailComposer::envelopeAddress(from), envelope, bytes, &err, &refused))
        return d->failed(err);
    d->lastSent = bytes;
    if (refused.isEmpty())
        return 0;
    QStringList lines;
    for (const SmtpSender::Refusal &r : refused) {
        d->refused.append(r.address);
        lines.append(r.address + u"（"_s + r.reply + u"）"_s);
    }
    d->message = u"次の宛先はサーバーに受け付けられず、メールが届きません（ほかの宛先には送信しました）：\n"_s
                 + lines.join(u'\n');
    return int(refused.size());
}

bool MailLib::smtpConnectionFailed() const
{
    return d->smtp.connectionFailed();
}

void MailLib::setThreadHeaders(const QString &inReplyTo, const QString &references)
{
    d->inReplyTo = inReplyTo;
    d->references = references;
}

QByteArray MailLib::lastSentMessage() const
{
    return d->lastSent;
}

QStringList MailLib::refusedRecipients() const
{
    return d->refused;
}

void MailLib::smtpDisconnect()
{
    d->smtp.disconnect();
}

QString MailLib::lastWholeMessageFile() const
{
    return d->lastWholeMessage;
}

QString MailLib::getMessage() const
{
    return d->message;
}

} // namespace hollin
