#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// A settings file in Windows profile format, CP932 text, all keys in section
// "EXEINI". Reads and writes behave like the Windows profile functions:
// an integer read takes the leading decimal number (default when absent),
// a text read gives at most 255 characters, a write creates file, section and
// key as needed and keeps every other line as it was.
class ProfileFile {
public:
    static constexpr const char16_t *Section = u"EXEINI";

    // ownerOnly: the file is created and kept readable by its owner only (passwords).
    explicit ProfileFile(const QString &path, bool ownerOnly = false);

    QString path() const { return m_path; }

    int readInt(const QString &key, int defaultValue = 0) const;
    // Empty when the key or the file is absent.
    QString readText(const QString &key, const QString &defaultValue = {}) const;
    bool hasKey(const QString &key) const;
    bool writeText(const QString &key, const QString &value, Error *err = nullptr);
    bool writeInt(const QString &key, int value, Error *err = nullptr);

private:
    QString m_path;
    bool m_ownerOnly;
};

} // namespace hollin
