#include "binary_output.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace tessaly {

void SetBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace tessaly
