// Standard streams as the tools need them, one file per platform.
#pragma once

namespace tessaly {

// Writes stdout and stderr byte for byte: no LF becomes CR LF.
void SetBinaryOutput();

}  // namespace tessaly
