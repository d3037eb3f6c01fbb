// The user's long time settings, read from the platform (one file per platform).
#pragma once

#include <string>

#include "text.h"

namespace tessaly {

// The six settings of the user's long time pattern; the defaults where the platform has none.
marc::LongTimeFormat UserLongTimeFormat();

// POSIX: the settings a strftime time pattern such as "%H:%M:%S" or "%I:%M:%S %p" stands for.
marc::LongTimeFormat LongTimeFormatFromPattern(std::string pattern, const char* amMarker,
                                               const char* pmMarker);

}  // namespace tessaly
