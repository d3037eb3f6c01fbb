// The user's long time settings, read from the platform (one file per platform).
#pragma once

#include "text.h"

namespace tessaly {

// The six settings of the user's long time pattern; the defaults where the platform has none.
marc::LongTimeFormat UserLongTimeFormat();

}  // namespace tessaly
