#pragma once

#include <QString>
#include <functional>

// What the storage layer did on its own that the user must hear of once, such
// as a half-written record moved aside. The program decides where it goes:
// hollin-cli prints it on stderr, the windows show a box. Without a handler it
// goes to the Qt warning log.
namespace hollin::storagenotice {

// Set once at start, before any write. The handler may be called from any thread.
void setHandler(std::function<void(const QString &text)> handler);
void tell(const QString &text);

} // namespace hollin::storagenotice
