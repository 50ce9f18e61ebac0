#pragma once

#include <QString>

namespace hollin {

// File names taken from mail, made safe to create inside one folder.
class SafeFileName {
public:
    // A bare name in NFC: a leading path ("/", "C:\", "../") removed, every
    // other "/" or "\" in full width (／ ＼), no control characters or
    // surrounding spaces, at most 200 UTF-8 bytes (the extension kept); "",
    // "." and ".." become fallback().
    static QString make(const QString &name);
    static QString fallback();
    // "name.ext" for n = 1, "name (n).ext" after.
    static QString numbered(const QString &name, int n);
};

} // namespace hollin
