#pragma once

#include <QString>

namespace hollin {

// Text sent as format=flowed (RFC 3676): lines ending in a space continue on
// the next line of the same quote depth. Apple Mail sends Japanese paragraphs
// this way with delsp=yes, where that space is no part of the text.
class FlowedText {
public:
    // The text with soft line breaks joined and space-stuffing removed; quoted
    // lines keep their ">" prefix. Line ends are kept as in the input.
    static QString unflow(const QString &text, bool delSp);
};

} // namespace hollin
