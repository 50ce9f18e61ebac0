#include "TextFiles.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QString decodeTextFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? Cp932::decode(bytes) : text;
}

} // namespace

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
    // A device or a pipe might never end; a large file is not a letter.
    if (!QFileInfo(path).isFile())
        return fail(err, u"普通のファイルではないため開けません。"_s, path);
    if (file.size() > MaxTextFileBytes)
        return fail(err, u"ファイルが大きすぎるため開けません（%1 MB まで）。"_s.arg(MaxTextFileBytes / (1024 * 1024)),
                    path + u": "_s + QString::number(file.size()) + u" bytes"_s);
    const QByteArray bytes = file.read(MaxTextFileBytes);
    if (file.error() != QFileDevice::NoError)
        return fail(err, u"ファイルを読み込めません。"_s, path + u": "_s + file.errorString());
    // Text holds no NUL: a picture or a program would fill the body with garbage.
    if (bytes.contains('\0'))
        return fail(err, u"テキストファイルではないため開けません。"_s, path);
    *text = joinLinesCrLf(splitTextLines(decodeTextFile(bytes)));
    return true;
}

QString charactersWithoutCp932(const QString &text)
{
    if (Cp932::canEncode(text))
        return {};
    QString lost;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character outside the basic plane is a surrogate pair: test it whole.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        if (!lost.contains(character) && !Cp932::canEncode(character))
            lost += character;
    }
    return lost;
}

QString cp932LossQuestion(const QString &characters)
{
    return u"次の文字は Shift-JIS で表せないため、「〓」として保存されます。\n\n"_s + characters
        + u"\n\n保存しますか？"_s;
}

bool writeTextFileCrLf(const QString &path, const QString &text, Error *err)
{
    QString normalized = text;
    normalized.replace(u"\r\n"_s, u"\n"_s);
    normalized.replace(u'\r', u'\n');
    normalized.replace(QChar::LineSeparator, u'\n');
    normalized.replace(QChar::ParagraphSeparator, u'\n');
    normalized.replace(u"\n"_s, u"\r\n"_s);
    normalized += u"\r\n"_s;

    QSaveFile file(path);
    const bool existed = QFileInfo::exists(path);
    const QString message = u"ファイルを保存できません。"_s;
    if (!file.open(QIODevice::WriteOnly))
        return fail(err, message, path + u": "_s + file.errorString());
    if (!fileio::makePrivateIfNew(file, existed, err))
        return false;
    const QByteArray bytes = Cp932::encode(normalized);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, message, path + u": "_s + file.errorString());
    return true;
}

} // namespace hollin
