// The window's words for find and the checks (UTF-8): the find box and its label, the 检查 button,
// its box and the saving of the report.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly::texts::window {

// The find box's prompt while it is empty.
inline constexpr std::string_view kFindBanner = "查找 (Ctrl+F)";
// "第 k / n 处": the selected row is the k-th of n rows holding the text.
std::string FindPlace(std::size_t k, std::size_t n);
inline constexpr std::string_view kNotFound = "未找到";

inline constexpr std::string_view kCheckButton = "检查";
inline constexpr std::string_view kCheckCaption = "检查";
inline constexpr std::string_view kSaveReport = "保存报告…";
// The save dialog's caption and file type; the name it offers for the report, without and with
// the name of the file the rows came from.
inline constexpr std::string_view kSaveReportTitle = "保存检查报告";
inline constexpr std::string_view kReportType = "制表符分隔的文本";
inline constexpr std::string_view kReportFileName = "检查报告.tsv";
std::string ReportFileName(std::string_view listFileStem);
// The report could not be written: the file, then the system's reason.
std::string SaveFailed(std::string_view file, std::string_view reason);

}  // namespace tessaly::texts::window
