#pragma once

#include <QString>

namespace hollin {

// The text before the first NUL; the whole text when it has none.
QString cutAtNul(const QString &text);

// Removes the ordinary space U+0020 at both ends; ideographic spaces stay.
QString trimSpaces(const QString &text);

// Removes U+0020 at the end only.
QString trimTrailingSpaces(const QString &text);

// The text after the last path separator ("\" or "/"); the whole path when it has none.
QString fileNameOf(const QString &path);

// The text up to and including the last path separator; the whole path when it has none.
QString folderOf(const QString &path);

} // namespace hollin
