#pragma once

namespace hollin {

// What the desktop knows the program by: its name, version, desktop entry
// ("hollin.desktop", which groups its windows and names their icon) and the icon
// every window carries. Needs the application object.
void setDesktopIdentity();

} // namespace hollin
