#include "xlsx_out.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace tessaly {

namespace fs = std::filesystem;

namespace {

void Check(lxw_error error, const char* what) {
  if (error != LXW_NO_ERROR) throw XlsxError(std::string(what) + ": " + lxw_strerror(error));
}

// A fresh name beside path, so that the rename at the end stays on one file system: "x" opens
// only a file that does not exist yet. The file is removed again at once (the library creates it
// when it writes the workbook at the end), so a run stopped halfway leaves nothing behind.
std::string ReserveTempName(const std::string& path) {
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device rng;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(rng()));
    fs::path name(".");
    name += target.filename();
    name += suffix;
    const std::string candidate = (folder / name).string();
    if (std::FILE* f = std::fopen(candidate.c_str(), "wbx")) {
      std::fclose(f);
      std::remove(candidate.c_str());
      return candidate;
    }
    // Only a name taken already is worth another try.
    if (errno != EEXIST) {
      throw XlsxError("Cannot create a file beside \"" + path + "\": " + std::strerror(errno));
    }
  }
  throw XlsxError("Cannot create a file beside \"" + path + "\"");
}

// A literal "_xHHHH_" in a cell would be read back as the character it names (the form the
// library escapes control characters in), so its "_" is written as "_x005F_" itself.
void EscapeLiteralEscapes(std::string& text) {
  auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  };
  for (std::size_t at = text.find("_x"); at != std::string::npos; at = text.find("_x", at + 1)) {
    if (at + 7 > text.size() || text[at + 6] != '_') continue;
    if (is_hex(text[at + 2]) && is_hex(text[at + 3]) && is_hex(text[at + 4]) &&
        is_hex(text[at + 5])) {
      text.insert(at + 1, "x005F_");
      at += 6;
    }
  }
}

// The length in bytes of the longest prefix of utf8 that is at most max_units UTF-16 code units
// and ends on a character boundary.
std::size_t Utf8PrefixWithinUnits(std::string_view utf8, std::size_t max_units) {
  std::size_t units = 0, at = 0;
  while (at < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::size_t need = bytes == 4 ? 2 : 1;  // beyond the BMP: a surrogate pair
    if (units + need > max_units || at + bytes > utf8.size()) break;
    units += need;
    at += bytes;
  }
  return at;
}

}  // namespace

struct XlsxOut::Book {
  lxw_workbook* workbook = nullptr;
  lxw_worksheet* sheet = nullptr;
  ~Book() {
    if (workbook) lxw_workbook_free(workbook);
  }
};

XlsxOut::XlsxOut(std::string path, std::vector<std::string> captions, XlsxOptions options)
    : path_(std::move(path)),
      captions_(std::move(captions)),
      options_(options),
      book_(std::make_unique<Book>()) {
  if (options_.limits.sheet_rows < 2) throw XlsxError("A sheet must hold a row below the captions");
  temp_path_ = ReserveTempName(path_);
  // The library's own scratch files go beside the target too: /tmp may be memory.
  std::string scratch = fs::path(temp_path_).parent_path().string();
  lxw_workbook_options lxw_options = {};
  lxw_options.constant_memory = LXW_TRUE;
  lxw_options.tmpdir = scratch.data();
  lxw_options.use_zip64 = options_.zip64 ? LXW_TRUE : LXW_FALSE;
  try {
    book_->workbook = workbook_new_opt(temp_path_.c_str(), &lxw_options);
    if (book_->workbook == nullptr) throw XlsxError("Cannot start the workbook \"" + path_ + "\"");
    NewSheet();
  } catch (...) {
    book_.reset();
    std::remove(temp_path_.c_str());
    throw;
  }
}

XlsxOut::~XlsxOut() {
  if (!finished_) {
    book_.reset();
    std::remove(temp_path_.c_str());
  }
}

void XlsxOut::NewSheet() {
  book_->sheet = workbook_add_worksheet(book_->workbook, nullptr);
  if (book_->sheet == nullptr) throw XlsxError("Cannot add a worksheet");
  ++sheets_;
  sheet_row_ = 0;
  for (std::size_t c = 0; c < captions_.size(); ++c) WriteCell(0, c, captions_[c]);
  sheet_row_ = 1;
}

void XlsxOut::WriteCell(std::int64_t row, std::size_t column, std::string_view text) {
  if (text.empty()) return;
  const std::size_t keep = Utf8PrefixWithinUnits(text, options_.limits.cell_units);
  if (keep < text.size()) {
    ++cut_cells_;
    text = text.substr(0, keep);
  }
  cell_.assign(text);  // the library wants a C string
  if (cell_.find("_x") != std::string::npos) EscapeLiteralEscapes(cell_);
  Check(worksheet_write_string(book_->sheet, static_cast<lxw_row_t>(row),
                               static_cast<lxw_col_t>(column), cell_.c_str(), nullptr),
        "Cannot write a cell");
}

void XlsxOut::AppendRow(std::span<const std::string> cells) {
  if (finished_) throw XlsxError("The workbook is already closed");
  if (sheet_row_ >= options_.limits.sheet_rows) NewSheet();
  for (std::size_t c = 0; c < cells.size(); ++c) WriteCell(sheet_row_, c, cells[c]);
  ++sheet_row_;
  ++rows_;
}

void XlsxOut::Finish() {
  if (finished_) return;
  lxw_workbook* workbook = book_->workbook;
  book_->workbook = nullptr;  // workbook_close frees it, whatever it returns
  const lxw_error closed = workbook_close(workbook);
  if (closed != LXW_NO_ERROR) {
    std::remove(temp_path_.c_str());
    finished_ = true;
    throw XlsxError("Cannot write \"" + path_ + "\": " + lxw_strerror(closed));
  }
  std::error_code ec;
  fs::rename(temp_path_, path_, ec);
  finished_ = true;
  if (ec) {
    std::remove(temp_path_.c_str());
    throw XlsxError("Cannot rename the workbook to \"" + path_ + "\": " + ec.message());
  }
}

}  // namespace tessaly
