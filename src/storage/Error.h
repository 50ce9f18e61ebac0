#pragma once

#include <QString>

namespace hollin {

// What went wrong, for the user (Japanese) and for the curious (errno text,
// server reply, library code). Functions that can fail take an Error* and
// return false / -1; the pointer may be null when the caller does not care.
struct Error {
    QString message; // shown to the user, Japanese
    QString detail;  // technical cause, may be empty

    bool isSet() const { return !message.isEmpty(); }
    // message and detail on one or two lines, ready for a message box
    QString text() const { return detail.isEmpty() ? message : message + u'\n' + detail; }
};

inline bool fail(Error *err, const QString &message, const QString &detail = {})
{
    if (err) {
        err->message = message;
        err->detail = detail;
    }
    return false;
}

} // namespace hollin
