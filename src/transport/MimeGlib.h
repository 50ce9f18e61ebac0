#pragma once

// GMime through GLib, safe to include after Qt headers (Qt's "signals"
// keyword macro clashes with a GIO struct member).
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")
