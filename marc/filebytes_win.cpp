// FileBytes on Windows: the file is opened so that others may read it but not write it, and the
// handle is kept while its bytes are held, that is while it is read: nothing can change it under
// the decoder. The read lets go of it at its end, and the file is free again. Paths are opened by
// their UTF-16 form, so a name opens whatever the ANSI code page is; messages spell them in UTF-8.
// A file on disk is mapped (a mapped file cannot be truncated either), its stretches read into
// the decode threads' buffers with ReadFile; anything else (a pipe, a file that cannot be
// mapped) is read into a buffer.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "errors.h"
#include "filebytes.h"
#include "pages.h"

namespace marc {

namespace {

// UTF-16 as UTF-8; a lone surrogate (a name may hold one) becomes U+FFFD rather than a failure.
std::string Narrow(std::wstring_view wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

// The system's own text for an error code, from its message table, without the line end and
// the closing full stop, as the failure display adds one where it belongs.
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = Narrow(std::wstring_view(buffer ? buffer : L"", buffer ? n : 0));
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "System error " + std::to_string(code);
  return text;
}

[[noreturn]] void Fail(const std::filesystem::path& path, DWORD code) {
  throw EFOpenError(OpenErrorMessage(path, SystemMessage(code)));
}

class HandleBytes : public FileBytes {
 public:
  HandleBytes(HANDLE file, const void* view, std::size_t size, std::string path)
      : file_(file), mapped_(view) {
    view_ = {static_cast<const char*>(view), size};
    path_ = std::move(path);
  }
  HandleBytes(HANDLE file, std::string bytes, std::string path)
      : file_(file), bytes_(std::move(bytes)) {
    view_ = bytes_;
    path_ = std::move(path);
  }
  ~HandleBytes() override {
    if (mapped_) UnmapViewOfFile(mapped_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  // Read at the offset given, so the threads that decode share the handle without a file
  // pointer between them; nobody can shorten the file while it is held, so a short read ends
  // only at the end.
  bool CopyOut(std::uint64_t offset, std::size_t size, char* out) const override {
    if (!mapped_ || offset > view_.size() || size > view_.size() - offset) return false;
    std::size_t have = 0;
    while (have < size) {
      const std::uint64_t from = offset + have;
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(from);
      at.OffsetHigh = static_cast<DWORD>(from >> 32);
      DWORD got = 0;
      const auto want = static_cast<DWORD>(std::min<std::size_t>(size - have, 1u << 30));
      if (!ReadFile(file_, out + have, want, &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return false;  // read in place
      }
      if (got == 0) break;
      have += got;
    }
    std::memset(out + have, 0, size - have);
    return true;
  }

 private:
  HANDLE file_;
  const void* mapped_ = nullptr;
  std::string bytes_;
};

class HandleCloser {
 public:
  explicit HandleCloser(HANDLE h) : h_(h) {}
  ~HandleCloser() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

}  // namespace

std::string PathBytes(const std::filesystem::path& path) { return Narrow(path.native()); }

std::shared_ptr<const FileBytes> FileBytes::FromString(std::string bytes) {
  return std::make_shared<HandleBytes>(INVALID_HANDLE_VALUE, std::move(bytes), std::string());
}

std::shared_ptr<const FileBytes> FileBytes::Load(const std::filesystem::path& path,
                                                 const Options&) {
  // Read sharing only: a file another program has open for writing fails here with the
  // system's sharing-violation text, and none may open it for writing while it is held.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(path, GetLastError());
  HandleCloser closer(file);
  std::error_code ec;
  const std::string absolute = PathBytes(std::filesystem::absolute(path, ec));

  // A file on disk can be read again from its start; a pipe's bytes are gone once read.
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  const auto marked = [&](std::shared_ptr<FileBytes> bytes) {
    bytes->regular_ = disk;
    return bytes;
  };
  LARGE_INTEGER size{};
  if (disk) {
    if (!GetFileSizeEx(file, &size)) Fail(path, GetLastError());
    if (size.QuadPart == 0)
      return marked(std::make_shared<HandleBytes>(closer.Release(), std::string(), absolute));
    if (const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
      const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      CloseHandle(mapping);  // the view keeps the section alive
      if (view)
        return marked(std::make_shared<HandleBytes>(
            closer.Release(), view, static_cast<std::size_t>(size.QuadPart), absolute));
    }
  }
  // Not mappable: read to the end.
  std::string bytes;
  std::size_t have = 0;
  for (;;) {
    if (bytes.size() - have < 65536) bytes.resize(std::max<std::size_t>(have + 65536, have * 2));
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - have, 1u << 30));
    if (!ReadFile(file, bytes.data() + have, want, &got, nullptr)) {
      const DWORD err = GetLastError();
      if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) break;
      Fail(path, err);
    }
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  return marked(std::make_shared<HandleBytes>(closer.Release(), std::move(bytes), absolute));
}

PageBuffer::~PageBuffer() {
  if (data_) VirtualFree(data_, 0, MEM_RELEASE);
}

void PageBuffer::Grow(std::size_t capacity, std::size_t used) {
  if (capacity <= capacity_) return;
  capacity = (capacity + 65535) & ~std::size_t{65535};  // the allocation granularity
  void* p = VirtualAlloc(nullptr, capacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!p) throw std::bad_alloc();
  if (used) std::memcpy(p, data_, used);
  if (data_) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = static_cast<char*>(p), capacity_ = capacity;
}

void ReturnFreeHeap() {}  // the process heap gives back what it can itself

void PageBuffer::Populate(std::size_t) {}  // committed pages come as they are written

void PageBuffer::Trim(std::size_t used) {
  // Committed pages never written to take no memory; decommitting the rest gives back the rest.
  const std::size_t keep = (used + 4095) & ~std::size_t{4095};
  if (!data_ || keep >= capacity_) return;
  VirtualFree(data_ + keep, capacity_ - keep, MEM_DECOMMIT);
  capacity_ = keep;  // growing again moves to a new allocation
}

}  // namespace marc
