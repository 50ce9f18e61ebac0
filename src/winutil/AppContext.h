#pragma once

namespace hollin {

struct AppState;
class Windows;

// What every window is handed: the program-wide values and the window owner.
struct AppContext {
    AppState &state;
    Windows &windows;
};

} // namespace hollin
