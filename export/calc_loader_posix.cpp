// Loads the Calc module with dlopen when an export first connects. The module is never
// unloaded: the UNO runtime it pulls in keeps threads and static state for the process's life.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <mutex>
#include <string>

#include "calc.h"
#include "platform.h"
#include "usertexts.h"

namespace tessaly {

namespace {

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string exe(path, static_cast<std::size_t>(n));
  const auto slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

// The module's folder relative to the program's, the same in the build tree and installed;
// without the "..", so that messages name the file plainly.
std::string DefaultModulePath() {
  const std::filesystem::path path =
      ProgramDirectory() + "/" TESSALY_MODULE_DIR_FROM_BIN "/libtessaly_calc.so";
  return path.lexically_normal().string();
}

// Returns the entry point or throws ConnectError; a module that loaded once stays loaded.
CalcModuleEntry LoadEntry(const std::string& path) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  // RTLD_NOW: a module whose UNO libraries are missing fails here, not halfway through.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw ConnectError(texts::OfficeModuleUnusable(why ? why : path));
  }
  void* entry = dlsym(handle, kCalcModuleEntry);
  if (entry == nullptr) throw ConnectError(texts::OfficeModuleUnusable(path));
  return reinterpret_cast<CalcModuleEntry>(entry);
}

class CalcModuleLoader final : public SpreadsheetApplication {
 public:
  CalcModuleLoader(CalcOptions options, std::string module_path)
      : options_(std::move(options)),
        module_path_(module_path.empty() ? DefaultModulePath() : std::move(module_path)) {}
  ~CalcModuleLoader() override { delete calc_.load(); }

  void ConnectApplication() override {
    if (calc_.load() == nullptr) {
      SpreadsheetApplication* made = LoadEntry(module_path_)(options_, kCalcModuleAbi);
      if (made == nullptr) throw ConnectError(texts::OfficeModuleMismatch(module_path_));
      calc_.store(made);
    }
    calc_.load()->ConnectApplication();
  }
  void AddWorkbook() override { Loaded().AddWorkbook(); }
  void AttachFirstWorksheet() override { Loaded().AttachFirstWorksheet(); }
  void SetVisible() override { Loaded().SetVisible(); }
  std::int64_t SheetRows() override { return Loaded().SheetRows(); }
  void AddWorksheet() override { Loaded().AddWorksheet(); }
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override {
    Loaded().PutCell(row, column, utf8);
  }
  void Flush() override { Loaded().Flush(); }
  // From another thread: the backend, once made, lives as long as the loader.
  void Abandon() noexcept override {
    if (SpreadsheetApplication* calc = calc_.load()) calc->Abandon();
  }
  std::int64_t CellsCut() const override {
    const SpreadsheetApplication* calc = calc_.load();
    return calc ? calc->CellsCut() : 0;
  }
  void DisconnectWorksheet() noexcept override {
    if (SpreadsheetApplication* calc = calc_.load()) calc->DisconnectWorksheet();
  }
  void DisconnectWorkbook() noexcept override {
    if (SpreadsheetApplication* calc = calc_.load()) calc->DisconnectWorkbook();
  }
  void DisconnectApplication() noexcept override {
    if (SpreadsheetApplication* calc = calc_.load()) calc->DisconnectApplication();
  }

 private:
  SpreadsheetApplication& Loaded() {
    SpreadsheetApplication* calc = calc_.load();
    if (calc == nullptr) throw AutomationError(texts::kCalcNotConnected);
    return *calc;
  }

  CalcOptions options_;
  std::string module_path_;
  std::atomic<SpreadsheetApplication*> calc_{nullptr};
};

}  // namespace

std::unique_ptr<SpreadsheetApplication> MakeLibreOfficeCalc(CalcOptions options,
                                                            std::string module_path) {
  // The office's end of the pipe can go at any moment (it crashed, the user quit it): a write
  // then has to fail as an error the export reports, not end the program with SIGPIPE. The
  // office started for the export gets the default back (office_start_posix.cpp).
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<CalcModuleLoader>(std::move(options), std::move(module_path));
}

std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet() {
  return MakeLibreOfficeCalc(CalcOptions{});
}

}  // namespace tessaly
