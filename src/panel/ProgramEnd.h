#pragma once

#include <functional>

namespace hollin {

// Ends the program at once: the event loop stops, no window's close handler
// runs and nothing more is saved. Used by the panel's exit button, its close
// request and a right press on a floating window.
class ProgramEnd {
public:
    static void now();

    // Test hook: while set, now() calls it instead of stopping the event loop.
    static void setHook(std::function<void()> hook);
};

} // namespace hollin
