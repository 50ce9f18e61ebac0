#pragma once

#include <QStringList>

namespace hollin {

class DataRoot;

// The data tree is the owner's alone: files and folders made by the Windows
// version, by an older version under a lax umask, or copied in, may still be
// open to other users. At the program's start (not at hollin-cli's, whose
// readers change nothing) every entry of the five folders (and
// hlmail.ini) that others may read, write or enter loses those bits.
// Symbolic links and entries of other owners (a shared, read-only data
// folder) are left as they are.
namespace privatetree {

// The paths whose modes changed.
QStringList tighten(const DataRoot &root);
// The same, told once through storagenotice when anything changed.
void tightenAndTell(const DataRoot &root);

} // namespace privatetree
} // namespace hollin
