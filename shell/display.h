// Whether a GUI can be shown at all, asked before the application object exists (Qt aborts when
// its platform plugin finds no display).
#pragma once

#include <string>

namespace tessaly {

// True when a display is available; otherwise false and why, as one line.
bool DisplayAvailable(std::string& why);

}  // namespace tessaly
