#include "windowchecktexts.h"

namespace tessaly::texts::window {

std::string FindPlace(std::size_t k, std::size_t n) {
  return "第 " + std::to_string(k) + " / " + std::to_string(n) + " 处";
}

std::string ReportFileName(std::string_view listFileStem) {
  return std::string(listFileStem) + "_检查报告.tsv";
}

std::string SaveFailed(std::string_view file, std::string_view reason) {
  std::string text = "检查报告没有保存：";
  text += file;
  text += "\n原因：";
  text += reason;
  return text;
}

}  // namespace tessaly::texts::window
