#include "binary_output.h"

namespace tessaly {

// POSIX streams never translate line ends.
void SetBinaryOutput() {}

}  // namespace tessaly
