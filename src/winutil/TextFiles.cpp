#include "TextFiles.h"

#include "storage/Cp932.h"

#include <QFile>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace hollin {

QStringList splitTextLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'\r')
            continue;
        lines << text.mid(start, i - start);
        if (i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

QString joinLinesCrLf(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + u"\r\n"_s;
    return text;
}

bool readTextFileLines(const QString &path, QString *text, Error *err)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(err, u"ファイルを開けません。"_s, path + u": "_s + file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(err, u"ファイルを読み込めません。"_s, path + u": "_s + file.errorString());
    *text = joinLinesCrLf(splitTextLines(Cp932::decode(bytes)));
    return true;
}

bool writeTextFileCrLf(const QString &path, const QString &text, bool *replaced, Error *err)
{
    QString normalized = text;
    normalized.replace(u"\r\n"_s, u"\n"_s);
    normalized.replace(u'\r', u'\n');
    normalized.replace(QChar::LineSeparator, u'\n');
    normalized.replace(QChar::ParagraphSeparator, u'\n');
    normalized.replace(u"\n"_s, u"\r\n"_s);
    normalized += u"\r\n"_s;

    QSaveFile file(path);
    const QString message = u"ファイルを保存できません。"_s;
    if (!file.open(QIODevice::WriteOnly))
        return fail(err, message, path + u": "_s + file.errorString());
    const QByteArray bytes = Cp932::encode(normalized, replaced);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, message, path + u": "_s + file.errorString());
    return true;
}

} // namespace hollin
