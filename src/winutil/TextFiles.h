#pragma once

#include "storage/Error.h"

#include <QString>
#include <QStringList>

namespace hollin {

// Splits text into lines the way a line-by-line text reader does: a line ends
// at CR LF or at a lone CR; a lone LF stays inside its line. A final line end
// does not start another (empty) line.
QStringList splitTextLines(const QString &text);

// Every line followed by CR LF.
QString joinLinesCrLf(const QStringList &lines);

// Reads a text file line by line; returns every line followed by CR LF. A file
// that starts with the UTF-8 byte order mark or is valid UTF-8 is read as
// UTF-8, any other as CP932 (what the Windows version writes). Refused, with
// the reason: what is not a regular file, more than MaxTextFileBytes, or
// holds a NUL byte (not text).
constexpr qint64 MaxTextFileBytes = 1024 * 1024;
bool readTextFileLines(const QString &path, QString *text, Error *err);

// The characters of text that have no CP932 form, each once, in their order
// ("😀𠮷"); empty when all of text can be stored.
QString charactersWithoutCp932(const QString &text);
// The question asked before storing text that holds such characters.
QString cp932LossQuestion(const QString &characters);

// Writes text (line ends "\n", "\r\n" or "\r") as CP932 with CR LF line ends,
// followed by one CR LF, replacing the file. The old file stays whole when the
// write fails. A character without a CP932 form is written as "?": callers
// ask first and pass Cp932::storable() text.
bool writeTextFileCrLf(const QString &path, const QString &text, Error *err);

} // namespace hollin
