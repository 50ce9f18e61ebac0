#include "Mbox.h"

#include "MimeGlib.h"
#include "MimeTree.h"
#include "storage/TextUtil.h"

#include <QLocale>
#include <QTimeZone>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool isQuotedFromLine(const QByteArray &line)
{
    qsizetype i = 0;
    while (i < line.size() && line[i] == '>')
        ++i;
    return line.mid(i).startsWith("From ");
}

QByteArray asctime(const QDateTime &when)
{
    // "Mon Dec  7 08:09:54 2026", always in English
    const QDateTime utc = when.toUTC();
    return QLocale::c().toString(utc, u"ddd MMM "_s).toLatin1()
        + QByteArray::number(utc.date().day()).rightJustified(2, ' ')
        + QLocale::c().toString(utc, u" hh:mm:ss yyyy"_s).toLatin1();
}

} // namespace

void Mbox::append(QByteArray *mbox, const QByteArray &message, const QString &envelopeSender,
                  const QDateTime &when)
{
    QByteArray sender = envelopeSender.toUtf8().trimmed();
    sender.replace(' ', '_');
    if (sender.isEmpty())
        sender = "MAILER-DAEMON";
    mbox->append("From " + sender + ' ' + asctime(when.isValid() ? when : QDateTime::currentDateTimeUtc()) + '\n');

    QByteArray text = message;
    text.replace("\r\n", "\n");
    const QList<QByteArray> lines = text.split('\n');
    const qsizetype count = text.endsWith('\n') ? lines.size() - 1 : lines.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (isQuotedFromLine(lines[i]))
            mbox->append('>');
        mbox->append(lines[i]);
        mbox->append('\n');
    }
    mbox->append('\n'); // the empty line that separates messages
}

QList<QByteArray> Mbox::split(const QByteArray &mbox)
{
    QList<QByteArray> messages;
    QByteArray current;
    bool inMessage = false;
    qsizetype pos = 0;
    bool previousBlank = true;
    while (pos < mbox.size()) {
        qsizetype end = mbox.indexOf('\n', pos);
        end = end < 0 ? mbox.size() : end + 1;
        QByteArray line = mbox.mid(pos, end - pos);
        pos = end;
        if (previousBlank && line.startsWith("From ")) {
            if (inMessage)
                messages.append(current);
            current.clear();
            inMessage = true;
            previousBlank = false;
            continue;
        }
        const QByteArray bare = QByteArray(line).replace("\r", "").replace("\n", "");
        previousBlank = bare.isEmpty();
        if (!inMessage)
            continue;
        if (isQuotedFromLine(bare) && bare.startsWith('>'))
            line.remove(0, 1);
        current.append(line);
    }
    if (inMessage)
        messages.append(current);
    // the separating empty line belongs to the mbox, not to the message
    for (QByteArray &message : messages) {
        if (message.endsWith("\r\n\r\n"))
            message.chop(2);
        else if (message.endsWith("\n\n"))
            message.chop(1);
    }
    return messages;
}

bool Mbox::looksLikeMbox(const QByteArray &data)
{
    return data.startsWith("From ");
}

QDateTime RecordMessage::parseDate(const QString &text)
{
    mime::ensureInitialised();
    const QByteArray utf8 = text.toUtf8();
    GDateTime *parsed = g_mime_utils_header_decode_date(utf8.constData());
    if (!parsed)
        return {};
    const QDateTime when = QDateTime::fromSecsSinceEpoch(g_date_time_to_unix(parsed), QTimeZone::utc());
    g_date_time_unref(parsed);
    return when;
}

QByteArray RecordMessage::build(const MailRecord &record, bool held, const QString &ownAddress)
{
    mime::ensureInitialised();
    GMimeMessage *message = g_mime_message_new(TRUE);

    const QByteArray subject = trimSpaces(record.subject).toUtf8();
    g_mime_message_set_subject(message, subject.constData(), "utf-8");

    const QByteArray address = trimSpaces(record.address).toUtf8();
    if (!address.isEmpty()) {
        InternetAddressList *target = held ? g_mime_message_get_to(message) : g_mime_message_get_from(message);
        InternetAddressList *parsed = internet_address_list_parse(nullptr, address.constData());
        if (parsed && internet_address_list_length(parsed) > 0) {
            internet_address_list_append(target, parsed);
        } else {
            // not an address GMime understands: keep the text as the display name
            InternetAddress *mailbox = internet_address_mailbox_new(address.constData(), "");
            internet_address_list_add(target, mailbox);
            g_object_unref(mailbox);
        }
        if (parsed)
            g_object_unref(parsed);
    }
    if (held && !ownAddress.isEmpty()) {
        const QByteArray own = ownAddress.toUtf8();
        InternetAddressList *parsed = internet_address_list_parse(nullptr, own.constData());
        if (parsed) {
            internet_address_list_append(g_mime_message_get_from(message), parsed);
            g_object_unref(parsed);
        }
    }

    const QDateTime when = parseDate(trimSpaces(record.date));
    if (when.isValid()) {
        GDateTime *date = g_date_time_new_from_unix_utc(when.toSecsSinceEpoch());
        g_mime_message_set_date(message, date);
        g_date_time_unref(date);
    } else if (!trimSpaces(record.date).isEmpty()) {
        // keep what the mail said, even when it is not a date a program can read
        const QByteArray date = trimSpaces(record.date).toUtf8();
        g_mime_object_set_header(GMIME_OBJECT(message), "Date", date.constData(), "utf-8");
    }

    QString body = trimSpaces(record.body);
    body.replace(u"\r\n"_s, u"\n"_s);
    const QByteArray bodyUtf8 = body.toUtf8();
    GMimeTextPart *part = g_mime_text_part_new_with_subtype("plain");
    g_mime_text_part_set_text(part, bodyUtf8.constData());
    g_mime_message_set_mime_part(message, GMIME_OBJECT(part));
    g_object_unref(part);

    GMimeFormatOptions *options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
    char *text = g_mime_object_to_string(GMIME_OBJECT(message), options);
    const QByteArray result(text);
    g_free(text);
    g_mime_format_options_free(options);
    g_object_unref(message);
    return result;
}

} // namespace hollin
