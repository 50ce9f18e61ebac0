#include "transport/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QByteArray>

#include <mutex>

namespace hollin {

namespace {

bool nameIs(const xmlNode *node, const char *name)
{
    return node->name && xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

bool isSkipped(const xmlNode *node)
{
    return nameIs(node, "script") || nameIs(node, "style") || nameIs(node, "head")
        || nameIs(node, "title") || nameIs(node, "noscript") || nameIs(node, "template");
}

bool isBlock(const xmlNode *node)
{
    static const char *const blocks[] = {"p", "div", "tr", "li", "ul", "ol", "table", "h1", "h2",
                                         "h3", "h4", "h5", "h6", "blockquote", "pre", "hr",
                                         "dl", "dt", "dd", "section", "article", "header",
                                         "footer", "address", "center", "form"};
    for (const char *b : blocks)
        if (nameIs(node, b))
            return true;
    return false;
}

class Writer {
public:
    void text(const QString &t, bool pre)
    {
        for (QChar c : t) {
            if (!pre && (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f')) {
                pendingSpace_ = !out_.isEmpty() && !out_.endsWith(u'\n');
                continue;
            }
            if (pendingSpace_) {
                out_ += u' ';
                pendingSpace_ = false;
            }
            // A no-break space is layout, and has no place in CP932 text.
            out_ += c == u'\r' ? QChar(u'\n') : c == QChar(0x00A0) ? QChar(u' ') : c;
        }
    }
    void lineBreak()
    {
        pendingSpace_ = false;
        out_ += u'\n';
    }
    void blockEdge()
    {
        pendingSpace_ = false;
        if (!out_.isEmpty() && !out_.endsWith(u'\n'))
            out_ += u'\n';
    }
    QString result() const
    {
        QString r = out_;
        while (r.endsWith(u'\n'))
            r.chop(1);
        return r.replace(u'\n', QStringLiteral("\r\n"));
    }

private:
    QString out_;
    bool pendingSpace_ = false;
};

} // namespace

QString HtmlText::toPlainText(const QString &html, bool *depthLimitHit)
{
    // The text is already decoded: a <meta> charset must not make libxml2 read it again.
    const QByteArray utf8 = html.toUtf8();
    // Mail is decoded on more than one thread: libxml2 must be set up once first.
    static std::once_flag once;
    std::call_once(once, xmlInitParser);
    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    if (!ctxt)
        return {};
    htmlDocPtr doc = htmlCtxtReadMemory(ctxt, utf8.constData(), int(utf8.size()), nullptr, "UTF-8",
                                        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING
                                            | HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC);
    // The parser halts at its nesting limit with an internal error.
    const xmlError *last = xmlCtxtGetLastError(ctxt);
    if (depthLimitHit)
        *depthLimitHit = last && last->code == XML_ERR_INTERNAL_ERROR;
    htmlFreeParserCtxt(ctxt);
    if (!doc)
        return {};
    Writer w;
    int preDepth = 0;
    auto leave = [&](const xmlNode *n) {
        if (n->type != XML_ELEMENT_NODE || isSkipped(n))
            return;
        if (nameIs(n, "pre"))
            --preDepth;
        if (isBlock(n))
            w.blockEdge();
    };
    // Returns true when the walk goes down into the node's children.
    auto enter = [&](const xmlNode *n) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            w.text(QString::fromUtf8(reinterpret_cast<const char *>(n->content)), preDepth > 0);
            return false;
        }
        if (n->type != XML_ELEMENT_NODE || isSkipped(n))
            return false;
        if (nameIs(n, "br"))
            w.lineBreak();
        else if (isBlock(n))
            w.blockEdge();
        if (nameIs(n, "pre"))
            ++preDepth;
        if (n->children)
            return true;
        leave(n);
        return false;
    };
    // Iterative walk: a deeply nested document must not exhaust the stack.
    xmlNode *node = xmlDocGetRootElement(doc);
    while (node) {
        if (enter(node)) {
            node = node->children;
            continue;
        }
        while (node && !node->next) {
            node = node->parent;
            if (!node || node->type != XML_ELEMENT_NODE)
                node = nullptr;
            else
                leave(node);
        }
        if (node)
            node = node->next;
    }
    xmlFreeDoc(doc);
    return w.result();
}

} // namespace hollin
