#pragma once

#include <functional>

class QWidget;

namespace hollin {

class DataRoot;

// At start, the saved password's safety. When a keyring answers and the file
// still holds the password, offers once to move it there (a "no" is kept in
// hollin.ini and not asked again). Otherwise, when the file can be read by
// other local users, says so and offers to make it the owner's alone; the
// file's mode is changed only when the user agrees.
// The keyring is asked on a thread of its own, so the windows work meanwhile;
// the offer comes when it answers, and done runs when all is over.
void offerToProtectPasswordFile(QWidget *parent, const DataRoot &root, std::function<void()> done = {});

} // namespace hollin
