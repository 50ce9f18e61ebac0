#include "ServerSettings.h"

#include "Cp932.h"
#include "DataFolderLock.h"
#include "DataRoot.h"
#include "FileIo.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int KeyLength = 5;
constexpr int MaxValueLength = 100;

// The leading number of a text: optional blanks, sign, digits and a fraction,
// rounded half to even; 0 when there is none or it does not fit 16 bits.
qint16 leadingNumber(const QString &text)
{
    static const QRegularExpression number(u"^[ \\t]*([+-]?(?:\\d+(?:\\.\\d*)?|\\.\\d+))"_s);
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return 0;
    const double value = std::nearbyint(match.captured(1).toDouble());
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        return 0;
    return qint16(value);
}

} // namespace

ServerSettings ServerSettings::read(const QString &path, Error *err)
{
    ServerSettings settings;
    QByteArray bytes;
    if (!fileio::readWhole(path, &bytes, nullptr, err))
        return settings;
    // Lines end in CR LF; a lone CR or LF also ends one.
    static const QRegularExpression lineBreak(u"\r\n|\r|\n"_s);
    const QStringList lines = Cp932::decode(bytes).split(lineBreak);
    for (const QString &line : lines) {
        const QStringView key = QStringView(line).left(KeyLength);
        const QString value = line.mid(KeyLength, MaxValueLength);
        if (key == u"SMTP=")
            settings.smtpServer = value;
        else if (key == u"POP3=")
            settings.pop3Server = value;
        else if (key == u"MAIL=")
            settings.mailAddress = value;
        else if (key == u"APOP=")
            settings.apopFlag = leadingNumber(value);
    }
    return settings;
}

bool ServerSettings::write(const QString &path, Error *err) const
{
    const QString text = u"SMTP="_s + smtpServer + u"\r\n"_s
            + u"POP3="_s + pop3Server + u"\r\n"_s
            + u"MAIL="_s + mailAddress + u"\r\n"_s
            + u"APOP="_s + QString::number(apopFlag) + u"\r\n"_s;
    // hlmail.ini lies beside the data folder, whose lock covers it too.
    DataFolderLock lock(DataRoot(QFileInfo(path).absolutePath()).dataFolder(), u"hlmail.ini への書き込み"_s);
    return lock.take(err) && fileio::writeWholeAtomically(path, Cp932::encode(text), -1, err);
}

} // namespace hollin
