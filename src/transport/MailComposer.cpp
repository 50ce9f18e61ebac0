#include "transport/MailComposer.h"

#include "transport/AddressSyntax.h"
#include "transport/Charset.h"
#include "transport/MimeGlib.h"
#include "transport/MimeHeader.h"
#include "transport/MimeTree.h"
#include "transport/RecipientList.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// A header value on one line: control characters (a CR LF would start a new
// header field) become spaces.
QString oneLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    return out;
}

// A name typed in quotes ("Smith, John") is the phrase inside them; it is
// quoted again below only as the phrase needs.
QString unquotedPhrase(const QString &name)
{
    if (name.size() < 2 || !name.startsWith(u'"') || !name.endsWith(u'"'))
        return name;
    QString out;
    for (qsizetype i = 1; i + 1 < name.size(); ++i) {
        if (name[i] == u'\\' && i + 2 < name.size())
            ++i;
        out += name[i];
    }
    return out.trimmed();
}

QByteArray displayName(const QString &name, int column)
{
    const QString line = unquotedPhrase(oneLine(name).trimmed());
    bool ascii = true;
    bool special = false;
    for (QChar c : line) {
        if (c.unicode() > 0x7E)
            ascii = false;
        if (QStringView(u"()<>[]:;@\\,.\"").contains(c))
            special = true;
    }
    if (!ascii || line.contains(u"=?"_s))
        return MimeHeader::encode(line, column);
    if (!special)
        return line.toLatin1();
    QByteArray quoted = line.toLatin1();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

// "To:" or "Cc:" with its addresses separated by commas; a line is folded
// before a name or address that would pass 76 characters.
QByteArray addressField(const QByteArray &field, const QList<Recipient> &recipients)
{
    QByteArray out = field + ':';
    qsizetype column = out.size();
    const auto separate = [&](bool fold) {
        out += fold ? "\r\n " : " ";
        column = fold ? 1 : column + 1;
    };
    for (qsizetype i = 0; i < recipients.size(); ++i) {
        const Recipient &r = recipients[i];
        const QByteArray address = '<' + r.address.toLatin1() + '>' + (i + 1 < recipients.size() ? "," : "");
        if (!r.name.isEmpty()) {
            separate(i > 0 && column > 50); // room for a few encoded characters at least
            const QByteArray name = displayName(r.name, int(column));
            const qsizetype eol = name.lastIndexOf('\n');
            out += name;
            column = eol < 0 ? column + name.size() : name.size() - eol - 1;
            separate(column + 1 + address.size() > 76);
        } else {
            separate(i > 0 && column + 1 + address.size() > 76);
        }
        out += address;
        column += address.size();
    }
    return out + "\r\n";
}

// CR LF line ends, the last line ended too.
QString crlfText(const QString &text)
{
    QString out = mime::crlf(text);
    if (!out.endsWith(u"\r\n"_s))
        out += u"\r\n"_s;
    return out;
}

GMimeStream *memoryStream(const QByteArray &bytes)
{
    return g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
}

void setContent(GMimePart *part, const QByteArray &bytes)
{
    GMimeStream *stream = memoryStream(bytes);
    GMimeDataWrapper *wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
}

qsizetype longestLine(const QByteArray &bytes)
{
    qsizetype longest = 0;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", start);
        if (end < 0)
            end = bytes.size();
        longest = std::max(longest, end - start);
        start = end + 2;
    }
    return longest;
}

// A NUL may not travel in a text part (RFC 5322): it becomes U+FFFD, so the
// reader sees that something was there.
QString withoutNul(const QString &text)
{
    QString out = text;
    out.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return out;
}

GMimeObject *bodyPart(const QString &body, bool jis)
{
    const QString text = crlfText(body);
    GMimeTextPart *part = g_mime_text_part_new_with_subtype("plain");
    if (jis) {
        bool ok = false;
        const QByteArray bytes = Charset::encodeIso2022Jp(text, &ok);
        setContent(GMIME_PART(part), bytes);
        g_mime_text_part_set_charset(part, "ISO-2022-JP");
        // A paragraph typed as one long line would pass SMTP's 998-octet line
        // limit in 7bit: such a body travels in base64.
        g_mime_part_set_content_encoding(GMIME_PART(part), longestLine(bytes) > 998
                                                               ? GMIME_CONTENT_ENCODING_BASE64
                                                               : GMIME_CONTENT_ENCODING_7BIT);
    } else {
        setContent(GMIME_PART(part), text.toUtf8());
        g_mime_text_part_set_charset(part, "UTF-8");
        g_mime_part_set_content_encoding(
            GMIME_PART(part), g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    }
    return GMIME_OBJECT(part);
}

// The charset a text file is valid in (UTF-8, else Shift_JIS); empty when it
// is neither, or holds a NUL, and so cannot be labelled as text.
QByteArray textCharset(const QByteArray &bytes)
{
    if (bytes.contains('\0'))
        return {};
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(bytes); // the decoding runs here and sets hasError()
    if (!utf8.hasError())
        return "UTF-8";
    if (!Cp932::decode(bytes).contains(QChar(QChar::ReplacementCharacter)))
        return "Shift_JIS";
    return {};
}

GMimeObject *attachmentPart(const QString &path, const QByteArray &bytes)
{
    QString mimeType = QMimeDatabase().mimeTypeForFile(path).name();
    QByteArray charset;
    if (mimeType.startsWith(u"text/"_s)) {
        charset = textCharset(bytes);
        if (charset.isEmpty())
            mimeType = u"application/octet-stream"_s;
    }
    const QByteArray type = mimeType.section(u'/', 0, 0).toLatin1();
    const QByteArray subtype = mimeType.section(u'/', 1).toLatin1();
    GMimePart *part = g_mime_part_new_with_type(type.isEmpty() ? "application" : type.constData(),
                                                subtype.isEmpty() ? "octet-stream" : subtype.constData());
    if (!charset.isEmpty())
        g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.constData());
    setContent(part, bytes);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
    const QByteArray name = QFileInfo(path).fileName().toUtf8();
    g_mime_part_set_filename(part, name.constData()); // filename (RFC 2231) and name
    // Older Japanese mailers read only name="=?…?=" (RFC 2047).
    GMimeContentType *ct = g_mime_object_get_content_type(GMIME_OBJECT(part));
    if (GMimeParam *param = g_mime_param_list_get_parameter(g_mime_content_type_get_parameters(ct), "name"))
        g_mime_param_set_encoding_method(param, GMIME_PARAM_ENCODING_METHOD_RFC2047);
    return GMIME_OBJECT(part);
}

// GMime writes a long name="=?…?=" as one word past the line limit: the
// Content-Type value is written here with the name in words on lines of their
// own, each line within 76 characters with the closing quote.
void foldNameParameter(GMimeObject *part)
{
    GMimeContentType *ct = g_mime_object_get_content_type(part);
    const char *value = ct ? g_mime_content_type_get_parameter(ct, "name") : nullptr;
    if (!value)
        return;
    QByteArray words = MimeHeader::encode(QString::fromUtf8(value), int(qstrlen("\tname=\"")), 75);
    if (!words.startsWith("=?"))
        return; // an ASCII name GMime writes well
    GMimeHeader *header = g_mime_header_list_get_header(g_mime_object_get_header_list(part), "Content-Type");
    if (!header)
        return;
    g_mime_param_list_remove(g_mime_content_type_get_parameters(ct), "name");
    char *rest = g_mime_content_type_encode(ct, nullptr); // type and the other parameters
    const QByteArray raw = ' ' + QByteArray(rest).trimmed() + ";\n\tname=\"" + words.replace("\r\n", "\n") + "\"\n";
    g_free(rest);
    g_mime_header_set_raw_value(header, raw.constData());
}

QByteArray serialise(GMimeObject *object)
{
    GMimeFormatOptions *options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    GMimeStream *stream = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(object, options, stream);
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray bytes(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
    g_object_unref(stream);
    g_mime_format_options_free(options);
    return bytes;
}

QByteArray dateNow()
{
    GDateTime *now = g_date_time_new_now_local();
    char *text = g_mime_utils_header_format_date(now);
    QByteArray date(text);
    g_free(text);
    g_date_time_unref(now);
    return date;
}

QByteArray messageId(const QString &from)
{
    QString domain = from.section(u'@', -1);
    if (!from.contains(u'@') || domain.isEmpty())
        domain = u"localhost"_s;
    char *id = g_mime_utils_generate_message_id(domain.toLatin1().constData());
    QByteArray text = '<' + QByteArray(id) + '>';
    g_free(id);
    return text;
}

// The "<id>" message ids in text, in order, each once.
QList<QByteArray> messageIds(const QString &text)
{
    static const QRegularExpression id(u"<[!-;=?-~]+>"_s);
    QList<QByteArray> ids;
    for (auto it = id.globalMatch(text); it.hasNext();) {
        const QByteArray one = it.next().captured().toLatin1();
        if (!ids.contains(one))
            ids.append(one);
    }
    return ids;
}

// A header of message ids, one per line after the first, so no line grows past the limit.
QByteArray idField(const char *name, const QList<QByteArray> &ids)
{
    return ids.isEmpty() ? QByteArray() : QByteArray(name) + ": " + ids.join("\r\n ") + "\r\n";
}

} // namespace

QString MailComposer::envelopeAddress(const QString &recipient)
{
    return RecipientList::parseOne(recipient).address;
}

namespace {

// All attachments of one mail together; more is refused by most servers anyway.
constexpr qint64 MaxAttachmentBytes = 20 << 20;

// A regular file within the limit, *total counting the attachments before it.
bool checkAttachment(int fd, const QString &path, qint64 *total, qint64 *size, Error *err)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return fail(err, u"添付ファイルが見つかりません"_s, path + u": "_s + fileio::errnoText(errno));
    if (!S_ISREG(st.st_mode))
        return fail(err, u"「%1」は普通のファイルではないため添付できません"_s.arg(path));
    *total += st.st_size;
    if (*total > MaxAttachmentBytes)
        return fail(err, u"添付ファイルは合わせて %1 MB までです"_s.arg(MaxAttachmentBytes >> 20),
                    u"%1: %2 MB"_s.arg(path).arg(double(*total) / (1 << 20), 0, 'f', 1));
    *size = st.st_size;
    return true;
}

fileio::Fd openAttachment(const QString &path)
{
    // Non-blocking: opening a FIFO must not wait for a writer.
    return fileio::Fd(::open(fileio::nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

// Reads an attachment when it is a regular file and keeps *total within the
// limit, both checked before reading: a device or a FIFO would never end.
bool readAttachment(const QString &path, qint64 *total, QByteArray *out, Error *err)
{
    const fileio::Fd fd = openAttachment(path);
    qint64 size = 0;
    if (!checkAttachment(fd.get(), path, total, &size, err))
        return false;
    out->resize(qsizetype(size));
    return fileio::readAt(fd.get(), out->data(), size, 0, path, err);
}

} // namespace

bool MailComposer::checkAttachments(const QStringList &paths, Error *err)
{
    qint64 total = 0;
    for (const QString &path : paths) {
        qint64 size = 0;
        if (!checkAttachment(openAttachment(path).get(), path, &total, &size, err))
            return false;
    }
    return true;
}

QByteArray MailComposer::build(const OutgoingMail &mail, Error *err)
{
    QList<Recipient> to, cc;
    Error listError;
    if (!RecipientList::parse(mail.to, u"宛先"_s, &to, &listError)
        || (!mail.cc.trimmed().isEmpty() && !RecipientList::parse(mail.cc, u"Cc"_s, &cc, &listError))) {
        fail(err, u"宛先のメールアドレスが正しくありません"_s, listError.message);
        return {};
    }
    const Recipient sender = RecipientList::parseOne(mail.from);
    if (sender.address.isEmpty()) {
        fail(err, u"差出人のメールアドレスが正しくありません"_s, mail.from);
        return {};
    }
    QList<QByteArray> contents;
    qint64 total = 0;
    for (const QString &path : mail.attachments) {
        contents.append(QByteArray());
        if (!readAttachment(path, &total, &contents.back(), err))
            return {};
    }

    mime::ensureInitialised();
    bool jis = false;
    const QString body = withoutNul(mail.body);
    QString names = sender.name;
    for (const Recipient &r : to + cc)
        names += r.name;
    Charset::encodeIso2022Jp(body + mail.subject + names, &jis);
    GMimeObject *top = bodyPart(body, jis);
    if (!mail.attachments.isEmpty()) {
        GMimeMultipart *mixed = g_mime_multipart_new_with_subtype("mixed");
        g_mime_multipart_add(mixed, top);
        g_object_unref(top);
        for (qsizetype i = 0; i < mail.attachments.size(); ++i) {
            GMimeObject *part = attachmentPart(mail.attachments[i], contents[i]);
            foldNameParameter(part);
            g_mime_multipart_add(mixed, part);
            g_object_unref(part);
        }
        top = GMIME_OBJECT(mixed);
    }

    QByteArray out;
    out += sender.name.isEmpty() ? "From: " + sender.address.toLatin1() + "\r\n" : addressField("From", {sender});
    out += addressField("To", to);
    if (!cc.isEmpty())
        out += addressField("Cc", cc);
    out += "Subject: " + MimeHeader::encode(oneLine(mail.subject), 9) + "\r\n";
    out += "Date: " + dateNow() + "\r\n";
    out += "Message-ID: " + messageId(sender.address) + "\r\n";
    const QList<QByteArray> answered = messageIds(mail.inReplyTo);
    out += idField("In-Reply-To", answered.mid(0, 1));
    out += idField("References", messageIds(mail.references + u' ' + mail.inReplyTo));
    out += "MIME-Version: 1.0\r\n";
    out += serialise(top);
    g_object_unref(top);
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

} // namespace hollin
