#pragma once

#include <QString>

namespace hollin {

// An envelope address "local@domain" in ASCII: the local part either plain
// (no blanks, brackets or quotes) or quoted as RFC 5321 allows
// ("bob smith"@example.jp, with \" and \\ inside). Control characters (CR,
// LF, NUL, ...) are refused in both forms.
bool isMailbox(const QString &address);

} // namespace hollin
