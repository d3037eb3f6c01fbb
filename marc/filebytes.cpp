#include "filebytes.h"

#include <filesystem>

namespace marc {

std::string OpenErrorMessage(const std::string& path, const std::string& reason) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(PathFromBytes(path), ec);
  return "Cannot open file \"" + (ec ? path : PathBytes(absolute)) + "\". " + reason;
}

std::string PathBytes(const std::filesystem::path& path) {
#ifdef _WIN32
  return Narrow(path.wstring());
#else
  return path.string();
#endif
}

std::filesystem::path PathFromBytes(const std::string& path) {
#ifdef _WIN32
  return WidePath(path);
#else
  return path;
#endif
}

}  // namespace marc
