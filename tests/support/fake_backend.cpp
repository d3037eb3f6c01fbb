#include "fake_backend.h"

#include <stdexcept>

namespace tessaly {

namespace {
RecordingSpreadsheet::Call Named(const char* op) {
  RecordingSpreadsheet::Call call;
  call.op = op;
  return call;
}
}  // namespace

std::string RecordingSpreadsheet::Call::Brief() const {
  if (op != "PutCell") return op;
  return op + "(" + std::to_string(row) + "," + std::to_string(column) + ")";
}

std::vector<std::string> RecordingSpreadsheet::Briefs() const {
  std::vector<std::string> out;
  out.reserve(calls_.size());
  for (const auto& c : calls_) out.push_back(c.Brief());
  return out;
}

void RecordingSpreadsheet::FailCall(std::string op, int nth, std::string message) {
  failing_call_ = {std::move(op), nth};
  failure_message_ = std::move(message);
}

void RecordingSpreadsheet::FailCell(std::int32_t row, std::int32_t column, std::string message) {
  failing_cell_ = {row, column};
  failure_message_ = std::move(message);
}

void RecordingSpreadsheet::HangAtCell(std::int32_t row, std::int32_t column) {
  const std::lock_guard lock(mutex_);
  hang_cell_ = {row, column};
}

void RecordingSpreadsheet::Release() {
  const std::lock_guard lock(mutex_);
  hang_cell_.reset();
  wake_.notify_all();
}

void RecordingSpreadsheet::Abandon() noexcept {
  const std::lock_guard lock(mutex_);
  abandoned_ = true;
  wake_.notify_all();
}

void RecordingSpreadsheet::Record(Call call) {
  if (abandoned_) throw AutomationError("abandoned");
  if (call.op == "PutCell") {
    std::unique_lock lock(mutex_);
    if (hang_cell_ == std::pair{call.row, call.column}) {
      hanging_ = true;
      wake_.wait(lock, [&] { return abandoned_ || !hang_cell_; });
      hanging_ = false;
      if (abandoned_) throw AutomationError("abandoned");
    }
  }
  const int nth = ++counts_[call.op];
  const bool fail_call =
      failing_call_ && failing_call_->first == call.op && failing_call_->second == nth;
  const bool fail_cell =
      call.op == "PutCell" && failing_cell_ && *failing_cell_ == std::pair{call.row, call.column};
  calls_.push_back(std::move(call));
  if (fail_call || fail_cell) throw AutomationError(failure_message_);
}

void RecordingSpreadsheet::Require(bool ok, const char* what) const {
  if (!ok) throw std::logic_error(std::string("called out of turn: ") + what);
}

void RecordingSpreadsheet::ConnectApplication() {
  Record(Named("ConnectApplication"));
  if (connected_) return;
  if (refuse_connect_) throw ConnectError("refused");
  connected_ = true;
  cells_cut_ = 0;
}

void RecordingSpreadsheet::AddWorkbook() {
  Record(Named("AddWorkbook"));
  Require(connected_, "AddWorkbook before connecting");
  workbooks_.emplace_back();
  later_sheets_.emplace_back();
  workbook_ = static_cast<int>(workbooks_.size()) - 1;
}

void RecordingSpreadsheet::AttachFirstWorksheet() {
  Record(Named("AttachFirstWorksheet"));
  Require(workbook_ >= 0, "AttachFirstWorksheet without a workbook");
  sheet_book_ = workbook_;
  worksheet_ = 0;
}

void RecordingSpreadsheet::SetVisible() {
  Record(Named("SetVisible"));
  Require(connected_, "SetVisible before connecting");
}

std::int64_t RecordingSpreadsheet::SheetRows() {
  Record(Named("SheetRows"));
  Require(worksheet_ >= 0, "SheetRows without a worksheet");
  return sheet_rows_;
}

void RecordingSpreadsheet::AddWorksheet() {
  Record(Named("AddWorksheet"));
  Require(workbook_ >= 0, "AddWorksheet without a workbook");
  auto& sheets = later_sheets_[static_cast<std::size_t>(workbook_)];
  sheets.emplace_back();
  sheet_book_ = workbook_;
  worksheet_ = static_cast<int>(sheets.size());
}

void RecordingSpreadsheet::PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) {
  Call call = Named("PutCell");
  call.row = row;
  call.column = column;
  call.text = utf8;
  Record(std::move(call));
  Require(worksheet_ >= 0, "PutCell without a worksheet");
  Require(row >= 1 && column >= 1 && row <= sheet_rows_, "PutCell outside the sheet");
  if (utf8.size() > cell_limit_) {
    utf8 = utf8.substr(0, cell_limit_);
    ++cells_cut_;
  }
  const auto book = static_cast<std::size_t>(sheet_book_);
  Sheet& sheet = worksheet_ == 0 ? workbooks_[book]
                                 : later_sheets_[book][static_cast<std::size_t>(worksheet_ - 1)];
  sheet[{row, column}] = std::string(utf8);
}

void RecordingSpreadsheet::Flush() { Record(Named("Flush")); }

void RecordingSpreadsheet::DisconnectWorksheet() noexcept {
  calls_.push_back(Named("DisconnectWorksheet"));
  worksheet_ = -1;
}

void RecordingSpreadsheet::DisconnectWorkbook() noexcept {
  calls_.push_back(Named("DisconnectWorkbook"));
  workbook_ = -1;
}

void RecordingSpreadsheet::DisconnectApplication() noexcept {
  calls_.push_back(Named("DisconnectApplication"));
  connected_ = false;
  abandoned_ = false;
}

}  // namespace tessaly
