#pragma once

#include <QString>

namespace hollin {

// The body of a new mail or a reply with the user's signature below it: the
// body without its trailing line ends, an empty line, the signature. An empty
// body gives two empty lines to write on above the signature; an empty
// signature (the default) leaves the body as it is.
QString bodyWithSignature(const QString &body, const QString &signature);

} // namespace hollin
