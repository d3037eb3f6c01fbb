// The workbook writer of a build without libxlsxwriter: asking for a workbook fails with a
// message, so marcrows still builds and decodes.
#include "xlsx_out.h"

namespace tessaly {

struct XlsxOut::Book {};

XlsxOut::XlsxOut(std::string path, std::vector<std::string>, XlsxOptions) : path_(std::move(path)) {
  throw XlsxError("Cannot write \"" + path_ + "\": this build has no libxlsxwriter");
}
XlsxOut::~XlsxOut() = default;
void XlsxOut::AppendRow(std::span<const std::string>) {}
void XlsxOut::Finish() {}
void XlsxOut::NewSheet() {}
void XlsxOut::WriteCell(std::int64_t, std::size_t, std::string_view) {}

}  // namespace tessaly
