// Windows: a desktop program always has its session's display.
#include "display.h"

namespace tessaly {

bool DisplayAvailable(std::string&) { return true; }

}  // namespace tessaly
