#include "checksession.h"

#include <cerrno>
#include <fstream>
#include <memory>
#include <system_error>
#include <utility>

#include "charset.h"
#include "usertexts.h"
#include "windowchecktexts.h"

namespace tessaly {

namespace {

// The system's words for a failure are UTF-8, or the 8-bit code page's (GBK on a Chinese
// Windows).
std::string Reason(const std::error_code& error) {
  const std::string bytes = error.message();
  if (marc::DetectEncoding(bytes) == marc::TextEncoding::Utf8) return bytes;
  return marc::DecodeToUtf8(bytes, marc::TextEncoding::Gb18030);
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

std::filesystem::path FromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

std::optional<std::string> WriteReplacing(const std::filesystem::path& file,
                                          std::string_view text) {
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out) out.close();
    if (!out) {
      const int error = errno ? errno : EIO;
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return Reason(std::error_code(error, std::generic_category()));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return Reason(error);
  }
  return std::nullopt;
}

CheckSession::CheckSession(Dialogs& dialogs, UiLoop& loop, Workers* const& workers,
                           const BookList& books, std::function<void()> showFailure)
    : dialogs_(dialogs),
      workers_(workers),
      books_(books),
      back_(loop, *this, std::move(showFailure)) {}

void CheckSession::Run(const std::filesystem::path& listFile) {
  if (running_) return;
  listFile_ = listFile;
  running_ = true;
  workers_->Start([send = back_.Send(), blocks = books_.Blocks(), encoding = books_.Encoding(),
                   version = books_.Version()] {
    try {
      marc::Checker checker(encoding);
      for (const auto& block : blocks) checker.Add(*block);
      auto result = std::make_shared<Result>();
      result->findings = checker.Finish();
      result->summary = marc::CheckSummary(result->findings);
      result->details = marc::CheckReportText(result->findings, {.listLimit = kListLimit});
      send([version, result](CheckSession& s) { s.Finished(version, *result); });
    } catch (...) {
      send([failure = std::current_exception()](CheckSession& s) {
        s.running_ = false;
        std::rethrow_exception(failure);
      });
    }
  });
}

void CheckSession::Finished(std::uint64_t version, const Result& result) {
  running_ = false;
  // The list was emptied or read anew meanwhile: these findings are of rows no longer shown.
  if (version != books_.Version()) return;
  const std::size_t chosen =
      dialogs_.ShowBox({std::string(texts::window::kCheckCaption),
                        result.summary,
                        result.details,
                        BoxIcon::Information,
                        {std::string(texts::kOk), std::string(texts::window::kSaveReport)}});
  if (chosen == 1) Save(result.findings);
}

void CheckSession::Save(const marc::CheckFindings& findings) {
  std::filesystem::path suggested = FromUtf8(texts::window::kReportFileName);
  if (!listFile_.empty()) {
    suggested =
        listFile_.parent_path() / FromUtf8(texts::window::ReportFileName(Utf8(listFile_.stem())));
  }
  const std::optional<std::filesystem::path> file =
      dialogs_.SaveFile({std::string(texts::window::kSaveReportTitle), suggested,
                         std::string(texts::window::kReportType), "tsv"});
  if (!file) return;
  if (const std::optional<std::string> reason =
          WriteReplacing(*file, marc::CheckReportTsv(findings))) {
    dialogs_.ShowBox({std::string(texts::kApplicationTitle),
                      texts::window::SaveFailed(Utf8(*file), *reason),
                      {},
                      BoxIcon::Error});
  }
}

}  // namespace tessaly
