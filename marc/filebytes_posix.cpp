// FileBytes on POSIX: a regular file is mapped (its stretches copied out with pread by the
// decode threads, or paged in where a stretch is too long to copy, and given back once decoded);
// pipes, files of no stated size and files still growing are read into a buffer.
//
// A mapped file that another program truncates raises SIGBUS on the next touch of a page past
// its new end. A handler, installed with the first mapping, puts a zero page in place of the
// lost one and marks the mapping shrunk: the read then fails naming the file instead of the
// program ending. The rows are copied out of the mapping as they are decoded, so rows already
// listed stay as they were read.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>

#include "errors.h"
#include "filebytes.h"
#include "pages.h"

namespace marc {

namespace {

// The mappings the SIGBUS handler may mend. Plain atomics, as the handler may read them at any
// moment on any thread; a slot is free while its end is 0.
struct GuardSlot {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> shrank{false};
};
constexpr int kGuardSlots = 64;
GuardSlot guardSlots[kGuardSlots];
struct sigaction previousBusAction;
std::once_flag handlerInstalled;

void OnBus(int sig, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (GuardSlot& slot : guardSlots) {
    if (at < slot.begin.load(std::memory_order_acquire) ||
        at >= slot.end.load(std::memory_order_acquire))
      continue;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    void* lost = reinterpret_cast<void*>(at & ~(page - 1));
    if (mmap(lost, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
      break;
    slot.shrank.store(true, std::memory_order_release);
    return;
  }
  // Not ours: whatever handled SIGBUS before does so now.
  if (previousBusAction.sa_flags & SA_SIGINFO) {
    previousBusAction.sa_sigaction(sig, info, context);
  } else if (previousBusAction.sa_handler != SIG_IGN && previousBusAction.sa_handler != SIG_DFL) {
    previousBusAction.sa_handler(sig);
  } else {
    signal(SIGBUS, SIG_DFL);  // the faulting access repeats and ends the program as it would
  }
}

void InstallHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnBus;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previousBusAction);
}

GuardSlot* Guard(const void* data, std::size_t size) {
  std::call_once(handlerInstalled, InstallHandler);
  for (GuardSlot& slot : guardSlots) {
    std::uintptr_t free = 0;
    if (slot.begin.compare_exchange_strong(free, reinterpret_cast<std::uintptr_t>(data))) {
      slot.shrank.store(false);
      slot.end.store(reinterpret_cast<std::uintptr_t>(data) + size, std::memory_order_release);
      return &slot;
    }
  }
  return nullptr;  // more files held at once than slots: such a mapping is read into a buffer
}

void Unguard(GuardSlot* slot) {
  slot->end.store(0, std::memory_order_release);
  slot->begin.store(0, std::memory_order_release);
}

[[noreturn]] void Fail(const std::filesystem::path& path, int err) {
  throw EFOpenError(OpenErrorMessage(path, std::strerror(err)));
}

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() { close(fd_); }

 private:
  int fd_;
};

class MappedBytes : public FileBytes {
 public:
  MappedBytes(void* data, std::size_t size, GuardSlot* slot, int fd, std::string path)
      : data_(data), size_(size), slot_(slot), fd_(fd) {
    view_ = {static_cast<const char*>(data), size};
    path_ = std::move(path);
  }
  ~MappedBytes() override {
    munmap(data_, size_);
    Unguard(slot_);
    close(fd_);
  }
  void Prefault(std::uint64_t offset, std::uint64_t size) const override {
#ifdef MADV_POPULATE_READ
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t from = offset & ~(page - 1);
    const std::uint64_t to = std::min<std::uint64_t>(offset + size, size_);
    // Fails harmlessly on a kernel without it and on a range the file no longer has.
    if (to > from) madvise(static_cast<char*>(data_) + from, to - from, MADV_POPULATE_READ);
#else
    (void)offset, (void)size;
#endif
  }
  void Release(std::uint64_t end) const override {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t to = std::min<std::uint64_t>(end, size_) & ~(page - 1);
    // A private mapping of a file: the pages go back to the page cache, nothing is lost.
    if (to > released_)
      madvise(static_cast<char*>(data_) + released_, to - released_, MADV_DONTNEED);
    released_ = std::max(released_, to);
  }
  bool CopyOut(std::uint64_t offset, std::size_t size, char* out) const override {
    if (offset > size_ || size > size_ - offset) return false;
    std::size_t have = 0;
    while (have < size) {
      const ssize_t n = pread(fd_, out + have, size - have, static_cast<off_t>(offset + have));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;  // read in place, where the mapping meets the same fault
      if (n == 0) break;        // cut short: the rest reads as zeros, as in the mapping
      have += static_cast<std::size_t>(n);
    }
    std::memset(out + have, 0, size - have);
    return true;
  }
  bool Shrank() const override {
    if (slot_->shrank.load(std::memory_order_acquire)) return true;
    // A cut inside the last page raises no signal: its tail just reads as zeros.
    struct stat st {};
    return fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < size_;
  }

 private:
  void* data_;
  std::size_t size_;
  GuardSlot* slot_;
  int fd_;
  mutable std::uint64_t released_ = 0;  // pages below are given back
};

class BufferBytes : public FileBytes {
 public:
  BufferBytes(std::string bytes, std::string path) : bytes_(std::move(bytes)) {
    view_ = bytes_;
    path_ = std::move(path);
  }

 private:
  std::string bytes_;
};

std::string SilenceText(std::chrono::milliseconds limit) {
  const auto ms = limit.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
  return std::to_string(ms) + " ms";
}

// Reads fd from its current offset to its end onto bytes. A pipe is read without blocking and
// waited on with a limit: a pipe that no program writes, or whose writer falls silent, fails
// the read rather than holding the window.
void ReadToEnd(int fd, bool pipe, const FileBytes::Options& options,
               const std::filesystem::path& path, std::string& bytes) {
  std::size_t have = bytes.size();
  for (;;) {
    if (pipe) {
      // Until a writer has come, a pipe reads as at its end; poll waits for data or a writer's
      // hang-up.
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(options.pipeSilence.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) Fail(path, errno);
      if (ready == 0)
        throw EFOpenError(OpenErrorMessage(
            path, "Nothing was written to the pipe within " + SilenceText(options.pipeSilence)));
    }
    if (bytes.size() - have < 65536) bytes.resize(std::max<std::size_t>(have + 65536, have * 2));
    const ssize_t n = read(fd, bytes.data() + have, bytes.size() - have);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) Fail(path, errno);
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  bytes.resize(have);
}

}  // namespace

std::shared_ptr<const FileBytes> FileBytes::FromString(std::string bytes) {
  return std::make_shared<BufferBytes>(std::move(bytes), std::string());
}

std::string PathBytes(const std::filesystem::path& path) { return path.native(); }

std::shared_ptr<const FileBytes> FileBytes::Load(const std::filesystem::path& path,
                                                 const Options& options) {
  namespace fs = std::filesystem;
  // Folders and devices are no record files, and some devices never end (/dev/zero): refused
  // before opening. One swapped in afterwards is told by the descriptor's own status below.
  std::error_code typeEc;
  const fs::file_type type = fs::status(path, typeEc).type();
  if (type == fs::file_type::directory) Fail(path, EISDIR);
  if (type == fs::file_type::character || type == fs::file_type::block) Fail(path, ENODEV);
  // Without blocking: opening a pipe that no program writes would wait for a writer forever.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail(path, errno);
  FdCloser closer(fd);
  struct stat st {};
  if (fstat(fd, &st) != 0) Fail(path, errno);
  if (S_ISDIR(st.st_mode)) Fail(path, EISDIR);
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) Fail(path, ENODEV);
  const bool pipe = S_ISFIFO(st.st_mode);
  if (!pipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::error_code ec;
  const std::string absolute = PathBytes(fs::absolute(path, ec));
  // A regular file can be read again from its start; a pipe's bytes are gone once read.
  const auto marked = [&](std::shared_ptr<FileBytes> bytes) {
    bytes->regular_ = S_ISREG(st.st_mode);
    return bytes;
  };

  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (S_ISREG(st.st_mode) && size > 0 && size <= SIZE_MAX / 2) {
    // Populated stretch by stretch by the threads that decode it (Prefault), where the kernel
    // can; at once here where it cannot.
#ifdef MADV_POPULATE_READ
    constexpr int kPopulate = 0;
#else
    constexpr int kPopulate = MAP_POPULATE;
#endif
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | kPopulate, fd, 0);
    if (data != MAP_FAILED) {
      GuardSlot* slot = Guard(data, size);
      char probe;
      // A file still being written has grown past the mapping: read it whole, to its end.
      const bool grown = pread(fd, &probe, 1, static_cast<off_t>(size)) > 0;
      if (slot && !grown) {
        const int kept = dup(fd);
        if (kept >= 0)
          return marked(std::make_shared<MappedBytes>(data, size, slot, kept, absolute));
      }
      // Copied out while still guarded, so a cut meanwhile reads as zeros rather than ending
      // the program; the copy is then checked like a mapping.
      std::string bytes(static_cast<const char*>(data), size);
      const bool shrank = slot && slot->shrank.load();
      munmap(data, size);
      if (slot) Unguard(slot);
      if (shrank) Fail(path, EIO);
      if (lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) Fail(path, errno);
      ReadToEnd(fd, false, options, path, bytes);
      return marked(std::make_shared<BufferBytes>(std::move(bytes), absolute));
    }
  }
  std::string bytes;
  ReadToEnd(fd, pipe, options, path, bytes);
  return marked(std::make_shared<BufferBytes>(std::move(bytes), absolute));
}

namespace {

// Rows' memory comes fresh and is written once, front to back: where the system offers them,
// pages of 2 MB cost one fault instead of 512 (a window's read of a million records took a fifth
// less time). A buffer that large is placed on a 2 MB boundary so that whole pages fit in it.
void* MapRows(std::size_t capacity) {
#ifdef MADV_HUGEPAGE
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (capacity >= kHuge) {
    void* p =
        mmap(nullptr, capacity + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    char* const start = static_cast<char*>(p);
    char* const aligned = reinterpret_cast<char*>(
        (reinterpret_cast<std::uintptr_t>(start) + kHuge - 1) & ~std::uintptr_t{kHuge - 1});
    if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
    const auto tail = static_cast<std::size_t>(start + kHuge - aligned);
    if (tail) munmap(aligned + capacity, tail);
    // Advice only: without transparent huge pages the buffer works as before.
    madvise(aligned, capacity, MADV_HUGEPAGE);
    return aligned;
  }
#endif
  void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

}  // namespace

void ReturnFreeHeap() {
#ifdef __GLIBC__
  // Blocks of 128 KB and more come from the system and go back to it when freed. Left to
  // itself the C library raises that size each time such a block is freed, up to 32 MB, and the
  // next read's growing lists then take and leave holes in the heap that stay resident: a second
  // open of the same file held several MB more than the first.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  malloc_trim(0);
#endif
}

PageBuffer::~PageBuffer() {
  if (data_) munmap(data_, capacity_);
}

void PageBuffer::Grow(std::size_t capacity, std::size_t used) {
  if (capacity <= capacity_) return;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  capacity = (capacity + page - 1) & ~(page - 1);
  void* p;
// ThreadSanitizer does not follow pages that mremap moves: it would take a later mapping at the
// old place for the same memory, written by two threads.
#if defined(MREMAP_MAYMOVE) && !defined(__SANITIZE_THREAD__)
  if (data_) {
    // The pages move as they are, not copied.
    p = mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char*>(p), capacity_ = capacity;
    return;
  }
#endif
  p = MapRows(capacity);
  if (used) std::memcpy(p, data_, used);
  if (data_) munmap(data_, capacity_);
  data_ = static_cast<char*>(p), capacity_ = capacity;
}

void PageBuffer::Populate(std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  bytes = std::min((bytes + page - 1) & ~(page - 1), capacity_);
  // Fails harmlessly on a kernel without it: the pages then come as they are written.
  if (bytes) madvise(data_, bytes, MADV_POPULATE_WRITE);
#else
  (void)bytes;
#endif
}

void PageBuffer::Trim(std::size_t used) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t keep = std::max((used + page - 1) & ~(page - 1), page);
  if (!data_ || keep >= capacity_) return;
  munmap(data_ + keep, capacity_ - keep);
  capacity_ = keep;
}

}  // namespace marc
