#include "filebytes.h"

#include <filesystem>

namespace marc {

std::string OpenErrorMessage(const std::string& path, const std::string& reason) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return "Cannot open file \"" + (ec ? path : absolute.string()) + "\". " + reason;
}

}  // namespace marc
