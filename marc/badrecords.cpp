#include "badrecords.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <random>
#include <system_error>

#include "filebytes.h"

namespace marc {

namespace {

// The parts appended one after another (GCC 12 at -O3 misreads "..." + std::string&& as an
// overlapping copy, -Wrestrict).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) out += part;
  return out;
}

}  // namespace

std::string BadRecordsBytes(const BadList& list) {
  std::string out;
  out.reserve(list.heldBytes + 2 * list.records.size());
  for (const BadRecord& record : list.records) {
    if (!record.held) continue;
    out += record.bytes;
    out += "\r\n";
  }
  return out;
}

std::optional<std::string> WriteReplacing(const std::filesystem::path& path, std::string_view bytes,
                                          const std::filesystem::path& read) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!read.empty() && fs::equivalent(path, read, ec))
    return Cat({"\"", PathBytes(path), "\" is the file that was read"});
  // Beside the target, so that the rename stays on one file system.
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::random_device rng;
  fs::path temp;
  for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
    fs::path name(".");
    name += path.filename();
    name += Cat({".", std::to_string(rng()), ".tmp"});
    if (!fs::exists(folder / name, ec)) temp = folder / name;
  }
  if (temp.empty()) return Cat({"no free temporary name beside \"", PathBytes(path), "\""});
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return Cat({"Cannot create \"", PathBytes(temp), "\": ", std::strerror(errno)});
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      const std::string reason = std::strerror(errno);
      fs::remove(temp, ec);
      return Cat({"Cannot write \"", PathBytes(temp), "\": ", reason});
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    const std::string reason = ec.message();
    fs::remove(temp, ec);
    return Cat({"Cannot rename \"", PathBytes(temp), "\" to \"", PathBytes(path), "\": ", reason});
  }
  return std::nullopt;
}

}  // namespace marc
