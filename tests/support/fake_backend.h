// A spreadsheet that exists only in memory and records every call made on it, for tests of the
// export logic. It can refuse to connect, fail a chosen call or cell, hang at a cell until it is
// released or abandoned, cut texts longer than a cell limit, and hold fewer rows per worksheet.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation.h"

namespace tessaly {

class RecordingSpreadsheet final : public SpreadsheetApplication {
 public:
  struct Call {
    std::string op;  // the member's name, e.g. "PutCell", "DisconnectWorkbook"
    std::int32_t row = 0;
    std::int32_t column = 0;
    std::string text;

    // "PutCell(2,3)" for cells, the bare name otherwise: what order tests compare.
    std::string Brief() const;
  };
  using Sheet = std::map<std::pair<std::int32_t, std::int32_t>, std::string>;

  // ConnectApplication throws ConnectError while refused.
  void RefuseConnect(bool refuse) { refuse_connect_ = refuse; }
  // The nth call (from 1) of op throws AutomationError(message); counts run over all exports.
  void FailCall(std::string op, int nth, std::string message);
  // Writing that cell throws AutomationError(message).
  void FailCell(std::int32_t row, std::int32_t column, std::string message);
  // Every call succeeds again (a refused connect stays refused).
  void ClearFailures() {
    failing_call_.reset();
    failing_cell_.reset();
  }
  // Writing that cell waits, as a spreadsheet that stopped answering, until Release or Abandon.
  void HangAtCell(std::int32_t row, std::int32_t column);
  void Release();
  bool Hanging() const { return hanging_; }
  // Texts longer than this many bytes are cut to it and counted in CellsCut.
  void SetCellLimit(std::size_t bytes) { cell_limit_ = bytes; }
  // What SheetRows answers; 1,048,576 unless set.
  void SetSheetRows(std::int64_t rows) { sheet_rows_ = rows; }

  const std::vector<Call>& Calls() const { return calls_; }
  std::vector<std::string> Briefs() const;
  void ClearCalls() { calls_.clear(); }
  // The first sheet of every workbook added, in order; cells written so far, keyed by (row,
  // column).
  const std::vector<Sheet>& Workbooks() const { return workbooks_; }
  // The sheets of a workbook after its first, in order.
  const std::vector<Sheet>& LaterSheets(std::size_t workbook) const {
    return later_sheets_.at(workbook);
  }
  bool HoldsAnything() const { return connected_ || workbook_ >= 0 || worksheet_ >= 0; }

  void ConnectApplication() override;
  void AddWorkbook() override;
  void AttachFirstWorksheet() override;
  void SetVisible() override;
  std::int64_t SheetRows() override;
  void AddWorksheet() override;
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override;
  void Flush() override;
  void Abandon() noexcept override;
  std::int64_t CellsCut() const override { return cells_cut_; }
  void DisconnectWorksheet() noexcept override;
  void DisconnectWorkbook() noexcept override;
  void DisconnectApplication() noexcept override;

 private:
  void Record(Call call);
  // Throws a programming error when the export calls out of turn, an armed failure otherwise.
  void Require(bool ok, const char* what) const;

  std::vector<Call> calls_;
  std::map<std::string, int> counts_;
  std::optional<std::pair<std::string, int>> failing_call_;
  std::optional<std::pair<std::int32_t, std::int32_t>> failing_cell_;
  std::string failure_message_;
  bool refuse_connect_ = false;
  std::size_t cell_limit_ = static_cast<std::size_t>(-1);
  std::int64_t cells_cut_ = 0;
  std::int64_t sheet_rows_ = 1'048'576;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<std::pair<std::int32_t, std::int32_t>> hang_cell_;
  std::atomic<bool> hanging_{false};
  std::atomic<bool> abandoned_{false};

  bool connected_ = false;
  int workbook_ = -1;    // index into workbooks_ held by the workbook component
  int worksheet_ = -1;   // the sheet held by the worksheet component (0: the first)...
  int sheet_book_ = -1;  // ...of this workbook
  std::vector<Sheet> workbooks_;
  std::vector<std::vector<Sheet>> later_sheets_;
};

}  // namespace tessaly
