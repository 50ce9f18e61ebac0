#pragma once

class QWidget;

namespace hollin {

// The floating button windows stay above all others, so every prompt, progress
// box and dialog must be kept above too, or a window manager stacks it below
// them where the user cannot read it. Gives window the keep-above hint and a
// transient parent: owner's window, or the active window when owner is null.
// Call before the window is shown.
void keepAbove(QWidget *window, QWidget *owner = nullptr);

} // namespace hollin
