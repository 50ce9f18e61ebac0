#include "KaoPalette.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

// The palette that ships with the program lives in this static library's resources.
static void initEditorResources()
{
    Q_INIT_RESOURCE(editor);
}

namespace hollin {

bool KaoPalette::provideDefault(Error *err) const
{
    if (QFile::exists(m_path))
        return true;
    initEditorResources();
    QFile shipped(u":/hollin/editor/Kao1.txt"_s);
    if (!shipped.open(QIODevice::ReadOnly))
        return fail(err, u"顔文字パレットの既定データを読めません。"_s, shipped.errorString());
    return save(QString::fromUtf8(shipped.readAll()), err);
}

bool KaoPalette::load(QString *text, Error *err) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(err, u"顔文字ファイルを開けません: "_s + m_path, file.errorString());
    QString decoded = Cp932::decode(file.readAll());
    decoded.replace(u"\r\n"_s, u"\n"_s);
    *text = decoded;
    return true;
}

bool KaoPalette::save(const QString &text, Error *err) const
{
    QString lines = text;
    lines.replace(u"\r\n"_s, u"\n"_s);
    lines.replace(u'\n', u"\r\n"_s);
    if (!lines.endsWith(u"\r\n"_s))
        lines += u"\r\n"_s;
    const QByteArray bytes = Cp932::encode(lines);
    QSaveFile file(m_path);
    const bool existed = QFileInfo::exists(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(err, u"顔文字ファイルを保存できません: "_s + m_path, file.errorString());
    if (!fileio::makePrivateIfNew(file, existed, err))
        return false;
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, u"顔文字ファイルを保存できません: "_s + m_path, file.errorString());
    return true;
}

} // namespace hollin
