#pragma once

#include "storage/Error.h"

#include <QString>
#include <functional>

class QWidget;

namespace hollin {

// Runs work (a long file job such as compacting a large record file) on a
// worker thread while the program keeps painting: a busy pointer at once and,
// when the work takes a moment, a modal progress box with text, kept above the
// floating windows. Input to the program waits until the work is done.
// Returns what work returned; work reports its failure through its Error.
bool runWhileBusy(QWidget *owner, const QString &text, const std::function<bool(Error *)> &work, Error *err);

} // namespace hollin
