// The bad records a read passed over, given back as a file: their bytes exactly as the file held
// them, one after another, each followed by CR LF, so that they can be mended and sent again.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "readerror.h"

namespace marc {

// The bytes of the records list holds (BadRecord::held), each followed by CR LF.
std::string BadRecordsBytes(const BadList& list);

// Writes bytes to path under a temporary name in path's folder, then renames it to path, so that
// an interrupted write never leaves half a file under path; a file path named before is
// replaced. Never writes over read (the file the records came from). Returns why it failed (the
// system's text), nothing when written.
std::optional<std::string> WriteReplacing(const std::filesystem::path& path, std::string_view bytes,
                                          const std::filesystem::path& read);

}  // namespace marc
