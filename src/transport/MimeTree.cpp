#include "transport/MimeTree.h"

#include "transport/Charset.h"
#include "transport/FlowedText.h"
#include "transport/HtmlText.h"

#include "transport/MimeGlib.h"

#include <mutex>

namespace hollin {

namespace {

// Nesting deeper than this is treated as a leaf: no real mail comes close,
// and a hostile one must not exhaust the stack.
constexpr int kMaxDepth = 64;

void collect(GMimeObject *object, int depth, QList<GMimeObject *> *out, bool *limitHit)
{
    if (!object)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        if (depth >= kMaxDepth) {
            *limitHit = true;
        } else {
            GMimeMultipart *multipart = GMIME_MULTIPART(object);
            const int n = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < n; ++i)
                collect(g_mime_multipart_get_part(multipart, i), depth + 1, out, limitHit);
            return;
        }
    }
    out->append(object);
}

} // namespace

MimeMessage::MimeMessage(const QByteArray &raw)
{
    mime::ensureInitialised();
    const QByteArray bytes = mime::tidy(raw);
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
    message_ = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
}

MimeMessage::MimeMessage(GMimeMessage *adopted) : message_(adopted) {}

MimeMessage::~MimeMessage()
{
    if (message_)
        g_object_unref(message_);
}

namespace mime {

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

QByteArray tidy(const QByteArray &raw)
{
    QByteArray out = raw;
    if (out.startsWith("\xEF\xBB\xBF"))
        out.remove(0, 3);
    if (out.startsWith("From ")) {
        const qsizetype eol = out.indexOf('\n');
        out.remove(0, eol < 0 ? out.size() : eol + 1);
    }
    if (!out.contains('\n'))
        out.replace('\r', '\n');
    return out;
}

QByteArray rawHeader(GMimeObject *object, const char *name)
{
    if (!object)
        return {};
    GMimeHeaderList *list = g_mime_object_get_header_list(object);
    const int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) == 0) {
            const char *raw = g_mime_header_get_raw_value(header);
            return raw ? QByteArray(raw) : QByteArray();
        }
    }
    return {};
}

QByteArray content(GMimePart *part)
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GMimeStream *stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(wrapper, stream);
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray bytes(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
    g_object_unref(stream);
    return bytes;
}

QString text(GMimePart *part)
{
    const char *charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    const QByteArray label = charset ? QByteArray(charset) : QByteArray();
    const QByteArray bytes = content(part);
    if (isType(GMIME_OBJECT(part), "text", "html"))
        return Charset::decode(bytes, Charset::htmlLabel(bytes, label));
    return Charset::decode(bytes, label);
}

bool isType(GMimeObject *object, const char *type, const char *subtype)
{
    GMimeContentType *ct = g_mime_object_get_content_type(object);
    return ct && g_mime_content_type_is_type(ct, type, subtype);
}

bool isAttachment(GMimeObject *object)
{
    const char *disposition = g_mime_object_get_disposition(object);
    if (disposition && g_ascii_strcasecmp(disposition, "attachment") == 0)
        return true;
    if (GMIME_IS_PART(object)) {
        const char *name = g_mime_part_get_filename(GMIME_PART(object));
        return name && *name;
    }
    return false;
}

QList<GMimeObject *> leaves(GMimeMessage *message, bool *limitHit)
{
    QList<GMimeObject *> out;
    bool cut = false;
    collect(g_mime_message_get_mime_part(message), 0, &out, &cut);
    if (limitHit)
        *limitHit = cut;
    return out;
}

GMimePart *bodyPart(GMimeMessage *message, bool *limitHit)
{
    GMimePart *html = nullptr;
    GMimePart *report = nullptr;
    for (GMimeObject *object : leaves(message, limitHit)) {
        if (!GMIME_IS_PART(object) || isAttachment(object))
            continue;
        if (GMIME_IS_TEXT_PART(object) && isType(object, "text", "plain"))
            return GMIME_PART(object);
        if (!html && GMIME_IS_TEXT_PART(object) && isType(object, "text", "html"))
            html = GMIME_PART(object);
        if (!report
            && (isType(object, "message", "delivery-status") || isType(object, "message", "disposition-notification")))
            report = GMIME_PART(object);
    }
    return html ? html : report;
}

QString bodyText(GMimePart *part, bool *limitHit)
{
    if (!part)
        return {};
    // A NUL is no end of the text (every text from the mail library ends at
    // its first NUL, and so would the HTML parser's input).
    const QString t = text(part).replace(QChar(0), QChar(0xFFFD));
    if (isType(GMIME_OBJECT(part), "text", "html")) {
        bool deep = false;
        const QString plain = HtmlText::toPlainText(t, &deep);
        if (deep && limitHit)
            *limitHit = true;
        return plain;
    }
    auto parameterIs = [part](const char *name, const char *value) {
        const char *v = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), name);
        return v && g_ascii_strcasecmp(v, value) == 0;
    };
    if (parameterIs("format", "flowed"))
        return crlf(FlowedText::unflow(t, parameterIs("delsp", "yes")));
    return crlf(t);
}

QString crlf(const QString &text)
{
    // Most mail comes with CR LF already: then the text is shared, not copied.
    bool alreadyCrlf = true;
    const qsizetype size = text.size();
    for (qsizetype at = text.indexOf(u'\n'); alreadyCrlf && at >= 0; at = text.indexOf(u'\n', at + 1))
        alreadyCrlf = at > 0 && text[at - 1] == u'\r';
    for (qsizetype at = text.indexOf(u'\r'); alreadyCrlf && at >= 0; at = text.indexOf(u'\r', at + 1))
        alreadyCrlf = at + 1 < size && text[at + 1] == u'\n';
    if (alreadyCrlf)
        return text;
    QString out;
    out.reserve(text.size() + text.size() / 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace mime
} // namespace hollin
