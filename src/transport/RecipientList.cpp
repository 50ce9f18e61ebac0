#include "transport/RecipientList.h"

#include "transport/AddressSyntax.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool isSeparator(QChar c)
{
    return c == u',' || c == u'、' || c == u';';
}

QStringList items(const QString &text)
{
    QStringList out;
    QString item;
    bool quoted = false;
    bool bracketed = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!bracketed && !quoted && isSeparator(c) && item.contains(u'@')) {
            out.append(item);
            item.clear();
            continue;
        }
        item += c;
        if (c == u'\\' && quoted && i + 1 < text.size())
            item += text[++i];
        else if (c == u'"')
            quoted = !quoted;
        else if (c == u'<' && !quoted)
            bracketed = true;
        else if (c == u'>' && !quoted)
            bracketed = false;
    }
    out.append(item);
    QStringList kept;
    for (const QString &i : std::as_const(out)) {
        // Separators alone (", ," or a trailing "、") are no item.
        QString bare = i;
        while (!bare.isEmpty() && (isSeparator(bare.back()) || bare.back().isSpace()))
            bare.chop(1);
        while (!bare.isEmpty() && (isSeparator(bare.front()) || bare.front().isSpace()))
            bare.remove(0, 1);
        if (!bare.isEmpty())
            kept.append(bare);
    }
    return kept;
}

} // namespace

Recipient RecipientList::parseOne(const QString &item)
{
    if (item.contains(u'\r') || item.contains(u'\n') || item.contains(QChar(0)))
        return {item, {}, {}};
    const QString t = item.trimmed();
    const qsizetype lt = t.lastIndexOf(u'<');
    if (lt < 0)
        return {t, {}, isMailbox(t) ? t : QString()};
    if (!t.endsWith(u'>'))
        return {t, {}, {}};
    const QString address = t.mid(lt + 1, t.size() - lt - 2).trimmed();
    if (!isMailbox(address))
        return {t, {}, {}};
    return {t, t.left(lt).trimmed(), address};
}

bool RecipientList::parse(const QString &text, const QString &field, QList<Recipient> *out, Error *err)
{
    out->clear();
    if (text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0)))
        return fail(err, u"%1に改行などの制御文字が含まれています。"_s.arg(field));
    for (const QString &item : items(text)) {
        const Recipient r = parseOne(item);
        if (r.address.isEmpty()) {
            out->clear();
            return fail(err, u"%1の「%2」はメールアドレスの形になっていません（名前<アドレス> の形も使えます）。"_s
                                 .arg(field, item));
        }
        out->append(r);
    }
    if (out->isEmpty())
        return fail(err, u"%1が指定されていません。"_s.arg(field));
    return true;
}

QString RecipientList::only(const QString &text, const QStringList &addresses)
{
    QStringList kept;
    for (const QString &item : items(text)) {
        if (addresses.contains(parseOne(item).address, Qt::CaseInsensitive))
            kept.append(item);
    }
    return kept.join(u", "_s);
}

} // namespace hollin
