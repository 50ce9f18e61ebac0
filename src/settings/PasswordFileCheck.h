#pragma once

class QWidget;

namespace hollin {

class DataRoot;

// When the file that keeps the saved password can be read by other local
// users, says so and offers to make it the owner's alone. Asked once, at
// start; the file's mode is changed only when the user agrees.
void offerToProtectPasswordFile(QWidget *parent, const DataRoot &root);

} // namespace hollin
