#include "transport/FlowedText.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace hollin {

QString FlowedText::unflow(const QString &text, bool delSp)
{
    const QString eol = text.contains(u"\r\n"_s) ? u"\r\n"_s : u"\n"_s;
    const QStringList lines = text.split(eol);
    QString out;
    out.reserve(text.size());
    int openDepth = -1; // quote depth of a paragraph still being joined; -1: none
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QStringView line = lines[n];
        int depth = 0;
        while (depth < line.size() && line[depth] == u'>')
            ++depth;
        line = line.mid(depth);
        if (line.startsWith(u' '))
            line = line.mid(1); // space-stuffing
        if (openDepth >= 0 && openDepth != depth) {
            out += eol; // a quote depth change ends the paragraph
            openDepth = -1;
        }
        if (openDepth < 0 && depth > 0)
            out += QString(depth, u'>') + u' ';
        const bool signature = line == u"-- ";
        const bool soft = !signature && line.endsWith(u' ') && n + 1 < lines.size();
        if (soft && delSp)
            line.chop(1);
        out += line;
        if (soft) {
            openDepth = depth;
        } else {
            openDepth = -1;
            if (n + 1 < lines.size())
                out += eol;
        }
    }
    return out;
}

} // namespace hollin
