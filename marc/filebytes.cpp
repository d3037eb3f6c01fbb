#include "filebytes.h"

#include <filesystem>

namespace marc {

std::string OpenErrorMessage(const std::filesystem::path& path, const std::string& reason) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return "Cannot open file \"" + PathBytes(ec ? path : absolute) + "\". " + reason;
}

}  // namespace marc
