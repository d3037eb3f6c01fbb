#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "binary_output.h"

namespace tessaly {

void SetBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace tessaly
