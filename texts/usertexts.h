// Every text the user reads, in one place, UTF-8. The window's logic, the export's backends and
// the skins take their words from here; native error texts (the system's, the spreadsheet's)
// are quoted after them as they came.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::texts {

// The application title: the taskbar entry, the caption of the program's own boxes.
inline constexpr std::string_view kApplicationTitle = "Tessaly";
// The main window's caption (two blanks before "1.0").
inline constexpr std::string_view kWindowCaption = "禾朔Tessaly  1.0";
inline constexpr std::string_view kButton1 = "打开marc文件";
inline constexpr std::string_view kButton3 = "清除数据";
inline constexpr std::string_view kButton4 = "退出";
inline constexpr std::string_view kButton5 = "生成Excel";
inline constexpr std::string_view kEdit1Banner =
    "禾朔Tessaly：打开CNMARC书目文件，逐条查看，一键生成Excel";

// ListView1's column captions, left to right.
inline constexpr std::array<std::string_view, 13> kColumnCaptions = {
    "名称", "作者", "isbn", "价格",   "出版地", "出版社", "出版时间",
    "页数", "尺寸", "附件", "分类号", "分类名", "提要"};

// "读入:N 条".
std::string Progress(std::int64_t rows);

inline constexpr std::string_view kOpenFailed = "打开文件失败！";
inline constexpr std::string_view kNoSpreadsheet = "NO excel ！";
inline constexpr std::string_view kNoSpreadsheetCaption = "错误";
// The top-level failure display of a failure without a message.
inline constexpr std::string_view kUnknownFailure = "未知错误";
// The top-level display's text: the message, with "." appended when it is not empty and its
// last byte sorts after ".".
std::string FailureDisplayText(std::string_view message);

// What went wrong in a read, by the kind of failure.
enum class ReadFault {
  Open,
  Number,
  Directory,
  CutShort,
  Record,
  RestOfCutRecord,
  OutOfMemory,
  Other
};
// The open failure's details: where (record, line and the record's byte offset, when the read
// had reached one), what was wrong, then the raw reason as the failure gave it.
std::string ReadFailureDetails(std::int64_t record, std::int64_t line, std::uint64_t offset,
                               ReadFault fault, std::string_view reason);
// What was wrong, by the kind of failure.
std::string_view ReadFaultText(ReadFault fault);

// The bad records a read passed over: the report saved beside them (a header line, then one
// line a record), and what comparing a record's declared length with its bytes suggests.
inline constexpr std::string_view kBadRecordsReportHeader =
    "记录\t行\t字节位置\t字节数\t原因\t提示";
// The saved records' name: the file's own name with this added before its extension.
inline constexpr std::string_view kBadRecordsNameSuffix = "_坏记录";
std::string CutBeforeNextHint(std::int64_t nextRecord, std::uint64_t restBytes);
std::string RestOfPreviousHint(std::int64_t previousRecord);
std::string FileEndsInsideHint(std::uint64_t haveBytes, std::int64_t declaredBytes);

// "NO excel ！"'s details: why the spreadsheet could not be reached. The backends' words; raw
// is the system's or the office's own text.
std::string NoSpreadsheetDetails(std::string_view why);
std::string OfficeCannotRun(std::string_view program, std::string_view raw);
std::string OfficeCannotStart(std::string_view raw);
std::string OfficeDidNotStart(int seconds);
std::string OfficeNotOnPipe(std::string_view pipe);
std::string OfficeCannotConnect(std::string_view raw);
std::string OfficeModuleUnusable(std::string_view raw);
std::string OfficeModuleMismatch(std::string_view module);
std::string ExcelComUnusable(std::string_view raw);
std::string ExcelCannotConnect(std::string_view raw);
std::string ExcelNoApplication(std::string_view raw);
std::string ExportThreadFailed(std::string_view raw);
// Failures of an export under way, from the spreadsheet's side.
inline constexpr const char* kCalcStopped = "LibreOffice Calc 在导出完成之前停止了";
inline constexpr const char* kCalcDocumentClosed = "Calc 文档在导出完成之前被关闭了";
inline constexpr const char* kCalcRefused = "LibreOffice Calc 拒绝了导出";
inline constexpr const char* kCalcGivenUp = "电子表格没有响应，导出已放弃";
inline constexpr const char* kCalcNotConnected = "LibreOffice Calc 尚未连接";
inline constexpr const char* kCalcNoNewDocument = "LibreOffice 没有打开新的 Calc 文档";
inline constexpr const char* kCalcNoDocument = "没有为导出打开的 Calc 文档";
inline constexpr const char* kCalcNoSheetInNew = "新的 Calc 文档没有工作表";
inline constexpr const char* kCalcNoSheet = "没有为导出打开的 Calc 工作表";
inline constexpr const char* kCalcTooManyRows = "列表的行数超出了 Calc 工作表能容纳的行数";
// A worksheet that claims no room below its caption row: adding sheets would never end.
inline constexpr const char* kSheetHoldsNoRow = "电子表格的工作表容纳不下任何一行";
inline constexpr const char* kCellOutsideSheet = "单元格在工作表之外";
inline constexpr const char* kExcelGivenUp = "电子表格没有响应，导出已中止";
inline constexpr const char* kCellTooLong = "单元格的文字太长，无法交给电子表格";
inline constexpr const char* kExcelBusy = "电子表格一直忙，不接受导出的调用";
inline constexpr const char* kExcelNotConnected = "没有连接到电子表格";
inline constexpr const char* kExportCancelled = "导出已取消";
inline constexpr std::string_view kNoBackend = "这个平台上没有可用的电子表格程序";

// The export's progress dialog and its not-answering box.
std::string ExportProgressText(std::int64_t written, std::int64_t rows);
inline constexpr std::string_view kExportStopping = "正在停止导出……";
inline constexpr std::string_view kCancel = "取消";
inline constexpr std::string_view kNotAnswering = "电子表格没有响应";
std::string NotAnsweringDetails(std::int64_t seconds);
inline constexpr std::string_view kKeepWaiting = "继续等待";
inline constexpr std::string_view kGiveUp = "放弃";
inline constexpr std::string_view kGaveUp = "电子表格没有响应，导出已放弃；已写入的行留在文档中";
std::string CellsCut(std::int64_t cells);
inline constexpr std::string_view kNoExportModule = "导出模块尚未创建";
inline constexpr std::string_view kOutOfMemory = "内存不足";

// The OK button of boxes that offer more than one button.
inline constexpr std::string_view kOk = "确定";
// The save dialog's entry that lists every file.
inline constexpr std::string_view kAllFiles = "所有文件";

// Reading past bad records: the failure box's second button, the elapsed label's addition, the
// box at the end with its details (one line a bad record), and saving the bad records.
inline constexpr std::string_view kContinuePastBad = "继续读取，列出坏记录";
// "坏记录 N 条".
std::string BadRecordsCount(std::int64_t bad);
// "读入 26 条记录，跳过 2 条坏记录。"
std::string PassedOverSummary(std::int64_t rows, std::int64_t bad);
// Where a bad record stands, how long it is, what was wrong (reason) and what that suggests (hint,
// may be empty).
std::string BadRecordLine(std::int64_t record, std::int64_t line, std::uint64_t offset,
                          std::uint64_t bytes, std::string_view reason, std::string_view hint);
// After the listed ones: how many more there are.
std::string MoreBadRecords(std::int64_t more);
// Bad records past the bytes a read holds: the report lists them, the saved records do not.
std::string BadRecordsNotHeld(std::int64_t records);
inline constexpr std::string_view kSaveBadRecords = "保存坏记录…";
inline constexpr std::string_view kSaveBadRecordsTitle = "保存坏记录";
inline constexpr std::string_view kBadRecordsFileType = "MARC 记录文件";
inline constexpr std::string_view kSaveBadRecordsFailed = "保存坏记录失败";

}  // namespace tessaly::texts
