#include "usertexts.h"

namespace tessaly::texts {

namespace {

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

}  // namespace

std::string Progress(std::int64_t rows) { return Cat({"读入:", std::to_string(rows), " 条"}); }

std::string FailureDisplayText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string_view ReadFaultText(ReadFault fault) {
  switch (fault) {
    case ReadFault::Open:
      return "文件无法打开";
    case ReadFault::Number:
      return "记录头中的记录长度或数据起始地址不是整数";
    case ReadFault::Directory:
      return "记录的目录指向记录中不存在的字段";
    case ReadFault::CutShort:
      return "文件在读取时被其他程序截短";
    case ReadFault::Record:
      return "记录无法解读";
    case ReadFault::RestOfCutRecord:
      return "这一段是被换行截断的上一条记录的其余部分，不是一条记录";
    case ReadFault::OutOfMemory:
      return "内存不足，无法读完文件";
    case ReadFault::Other:
      return "读取时出错";
  }
  return {};
}

std::string CutBeforeNextHint(std::int64_t nextRecord, std::uint64_t restBytes) {
  return Cat({"一条记录被换行截成了两段：后一段是第 ", std::to_string(nextRecord),
              " 条，正好是记录头长度所缺的 ", std::to_string(restBytes), " 字节"});
}

std::string RestOfPreviousHint(std::int64_t previousRecord) {
  return Cat({"一条记录被换行截成了两段：这是第 ", std::to_string(previousRecord), " 条的后一段"});
}

std::string FileEndsInsideHint(std::uint64_t haveBytes, std::int64_t declaredBytes) {
  return Cat({"文件在这条记录中间结束：记录头说有 ", std::to_string(declaredBytes),
              " 字节，文件里只有 ", std::to_string(haveBytes), " 字节"});
}

std::string ReadFailureDetails(std::int64_t record, std::int64_t line, std::uint64_t offset,
                               ReadFault fault, std::string_view reason) {
  const std::string_view what = ReadFaultText(fault);
  std::string out;
  if (record > 0) {
    out = Cat({"第 ", std::to_string(record), " 条记录（第 ", std::to_string(line),
               " 行，字节位置 ", std::to_string(offset), "）："});
  }
  out += what;
  if (!reason.empty()) out += Cat({"。原因：", reason});
  return out;
}

std::string NoSpreadsheetDetails(std::string_view why) {
  return Cat({"无法连接电子表格程序：", why});
}
std::string OfficeCannotRun(std::string_view program, std::string_view raw) {
  return Cat({"无法运行 ", program, "：", raw});
}
std::string OfficeCannotStart(std::string_view raw) { return Cat({"无法启动 LibreOffice：", raw}); }
std::string OfficeDidNotStart(int seconds) {
  return Cat({"LibreOffice 没有在 ", std::to_string(seconds), " 秒内启动"});
}
std::string OfficeNotOnPipe(std::string_view pipe) {
  return Cat({"没有 LibreOffice 在管道 ", pipe, " 上应答"});
}
std::string OfficeCannotConnect(std::string_view raw) {
  return Cat({"无法连接 LibreOffice：", raw});
}
std::string OfficeModuleUnusable(std::string_view raw) {
  return Cat({"无法使用 LibreOffice：", raw});
}
std::string OfficeModuleMismatch(std::string_view module) {
  return Cat({"LibreOffice 模块 ", module, " 版本不符"});
}

std::string ExcelComUnusable(std::string_view raw) {
  return Cat({"COM 无法在导出线程上使用：", raw});
}
std::string ExcelCannotConnect(std::string_view raw) { return Cat({"无法连接 Excel：", raw}); }
std::string ExcelNoApplication(std::string_view raw) {
  return Cat({"注册为 Excel 的对象没有应用程序接口：", raw});
}
std::string ExportThreadFailed(std::string_view raw) { return Cat({"无法启动导出线程：", raw}); }

std::string ExportProgressText(std::int64_t written, std::int64_t rows) {
  return Cat(
      {"正在生成电子表格：已写入 ", std::to_string(written), " / ", std::to_string(rows), " 行"});
}

std::string NotAnsweringDetails(std::int64_t seconds) {
  return Cat({"电子表格已有 ", std::to_string(seconds),
              " 秒没有应答。可以继续等待，也可以放弃这次导出：已写入的行留在文档中。"});
}

std::string CellsCut(std::int64_t cells) {
  return Cat(
      {"有 ", std::to_string(cells), " 个单元格的文字超过了电子表格单元格的长度上限，已截断。"});
}

std::string BadRecordsCount(std::int64_t bad) {
  return Cat({"坏记录 ", std::to_string(bad), " 条"});
}

std::string PassedOverSummary(std::int64_t rows, std::int64_t bad) {
  return Cat({"读入 ", std::to_string(rows), " 条记录，跳过 ", std::to_string(bad), " 条坏记录。"});
}

std::string BadRecordLine(std::int64_t record, std::int64_t line, std::uint64_t offset,
                          std::uint64_t bytes, std::string_view reason, std::string_view hint) {
  std::string out =
      Cat({"第 ", std::to_string(record), " 条记录（第 ", std::to_string(line), " 行，字节位置 ",
           std::to_string(offset), "，", std::to_string(bytes), " 字节）：", reason});
  if (!hint.empty()) out += Cat({"。提示：", hint});
  return out;
}

std::string MoreBadRecords(std::int64_t more) {
  return Cat({"……另有 ", std::to_string(more), " 条坏记录未列出，保存后见报告。"});
}

std::string BadRecordsNotHeld(std::int64_t records) {
  return Cat({"其中 ", std::to_string(records),
              " 条坏记录超出了可保留的字节数，保存时只列入报告，不写入记录文件。"});
}

}  // namespace tessaly::texts
