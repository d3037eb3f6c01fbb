// Test texts are written in UTF-8 and turned into the GBK bytes a record file holds.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::testing {

inline std::string Gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no GBK converter");
  std::string in(utf8);
  std::string out(in.size() * 2 + 4, '\0');
  char* src = in.data();
  std::size_t src_left = in.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  const std::size_t done = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("not convertible to GBK");
  out.resize(out.size() - dst_left);
  return out;
}

// The list's column captions, as the main window creates them.
inline std::vector<std::string> ColumnCaptionsUtf8() {
  return {"名称", "作者", "isbn", "价格",   "出版地", "出版社", "出版时间",
          "页数", "尺寸", "附件", "分类号", "分类名", "提要"};
}

}  // namespace tessaly::testing
