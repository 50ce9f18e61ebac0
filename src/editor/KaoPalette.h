#pragma once

#include "storage/Error.h"

#include <QString>

namespace hollin {

// The emoticon palette file "Kao1.txt": free CP932 text, CR LF lines.
class KaoPalette {
public:
    explicit KaoPalette(const QString &path) : m_path(path) {}

    // Writes the palette that ships with the program when the file is missing.
    bool provideDefault(Error *err = nullptr) const;
    // The whole text, CR LF turned into LF.
    bool load(QString *text, Error *err = nullptr) const;
    // Writes text with CR LF lines, ending in one CR LF (added only when missing,
    // so that opening and closing the palette leaves the file as it was).
    bool save(const QString &text, Error *err = nullptr) const;

private:
    QString m_path;
};

} // namespace hollin
