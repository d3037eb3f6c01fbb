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

void RecordingSpreadsheet::Record(Call call) {
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
}

void RecordingSpreadsheet::AddWorkbook() {
  Record(Named("AddWorkbook"));
  Require(connected_, "AddWorkbook before connecting");
  workbooks_.emplace_back();
  workbook_ = static_cast<int>(workbooks_.size()) - 1;
}

void RecordingSpreadsheet::AttachFirstWorksheet() {
  Record(Named("AttachFirstWorksheet"));
  Require(workbook_ >= 0, "AttachFirstWorksheet without a workbook");
  worksheet_ = workbook_;
}

void RecordingSpreadsheet::SetVisible() {
  Record(Named("SetVisible"));
  Require(connected_, "SetVisible before connecting");
}

void RecordingSpreadsheet::PutCell(std::int32_t row, std::int32_t column,
                                   std::string_view text) {
  Call call = Named("PutCell");
  call.row = row;
  call.column = column;
  call.text = text;
  Record(std::move(call));
  Require(worksheet_ >= 0, "PutCell without a worksheet");
  Require(row >= 1 && column >= 1, "PutCell outside the sheet");
  workbooks_[static_cast<std::size_t>(worksheet_)][{row, column}] = std::string(text);
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
}

}  // namespace tessaly
