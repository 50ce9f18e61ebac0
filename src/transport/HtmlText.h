#pragma once

#include <QString>

namespace hollin {

// The readable text of an HTML document, as a mail body: paragraphs, line
// breaks, rows and list items become new lines; scripts, styles and the head
// are left out; entities are resolved by libxml2's HTML parser.
class HtmlText {
public:
    // depthLimitHit: set when the document nests deeper than the parser
    // follows (libxml2 stops at 256 levels), so text below was left out.
    static QString toPlainText(const QString &html, bool *depthLimitHit = nullptr);
};

} // namespace hollin
