// The checks before ordering, for the 检查 button: the findings over the list's rows (duplicate
// ISBNs, the price total, class counts, what is missing) gathered on a worker, their summary in a
// box with 确定 and 保存报告…, and the whole report saved as a UTF-8 tab-separated file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "booklist.h"
#include "ports.h"
#include "postback.h"
#include "report.h"

namespace tessaly {

class CheckSession {
 public:
  // At most this many rows named in each list of the box's details; the saved report has all.
  static constexpr std::size_t kListLimit = 50;

  // workers is read at each run: the presenter may be given other workers.
  CheckSession(Dialogs& dialogs, UiLoop& loop, Workers* const& workers, const BookList& books,
               std::function<void()> showFailure);
  CheckSession(const CheckSession&) = delete;
  CheckSession& operator=(const CheckSession&) = delete;

  // Checks the rows; the box comes when the worker is done. Ignored while checks run. listFile:
  // the file the rows came from, beside which the report is offered.
  void Run(const std::filesystem::path& listFile);
  bool Running() const { return running_; }

 private:
  // The report to save is written from the findings only when asked for.
  struct Result {
    std::string summary, details;
    marc::CheckFindings findings;
  };
  void Finished(std::uint64_t version, const Result& result);
  void Save(const marc::CheckFindings& findings);

  Dialogs& dialogs_;
  Workers* const& workers_;
  const BookList& books_;
  bool running_ = false;
  std::filesystem::path listFile_;
  PostBack<CheckSession> back_;
};

// Writes text to file under a temporary name beside it, then puts it in file's place (replacing
// what was there). The reason (UTF-8) when it failed; file is then untouched and no temporary
// file is left.
std::optional<std::string> WriteReplacing(const std::filesystem::path& file, std::string_view text);

}  // namespace tessaly
