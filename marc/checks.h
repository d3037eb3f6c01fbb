// The checks a buyer makes on a batch of records before an order or a load: duplicate ISBNs
// (ISBN-10 and ISBN-13 of one book are one), the batch's price total, its spread over the classes,
// and what is missing. Readers of one cell each, tested as tables, and a pass over the rows that
// gathers their findings. No words here: the report (report.h) spells the findings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reader.h"
#include "text.h"

namespace marc {

// --- ISBN ------------------------------------------------------------------------------------

struct IsbnReading {
  enum Kind : std::uint8_t {
    Empty,    // nothing written
    Isbn10,   // ten characters: nine digits and a check digit or X
    Isbn13,   // thirteen digits, 978 or 979 first
    NotIsbn,  // something else: reported as written, never guessed at
  };
  Kind kind = Empty;
  bool checkDigitWrong = false;
  // The book's key: the first twelve digits of its ISBN-13 (978 and the nine digits of an
  // ISBN-10), so that both forms of one book meet whatever their check digits say.
  std::uint64_t key = 0;
};

// Reads an ISBN as written: ASCII hyphens and blanks (and their full-width forms) are passed
// over, an x is an X. Bytes of enc.
IsbnReading ReadIsbn(std::string_view written, TextEncoding enc = TextEncoding::Gb18030);
// The ISBN-13 of a key, with its right check digit ("9787503726237").
std::string Isbn13OfKey(std::uint64_t key);
// The check digit an ISBN of that form and key should have ('0'-'9' or 'X').
char RightCheckDigit(const IsbnReading& isbn);

// --- Price -----------------------------------------------------------------------------------

struct PriceReading {
  enum Kind : std::uint8_t {
    Absent,      // no price written
    Counted,     // in the total
    Gift,        // "CNY赠90.00": a gift, counted apart
    Unreadable,  // written, but no price this reads: listed
  };
  Kind kind = Absent;
  bool set = false;      // a set's price ("￥66.00（全三册）"), counted once
  std::int64_t fen = 0;  // the amount, in fen (1/100 yuan), exactly
};

// Reads a price as written, in enc's bytes: "CNY25.00", "RMB25", "¥25", "￥66.00（全三册）",
// "25元", "0.38元", a bare number, blanks between the parts; "赠" anywhere makes it a gift. At most
// two decimals (further zeros pass).
PriceReading ReadPrice(std::string_view written, TextEncoding enc = TextEncoding::Gb18030);

// --- Class numbers ---------------------------------------------------------------------------

// The levels of a class number (UTF-8), each a prefix of the number, broadest first: its class
// letter; for T with a second letter, that two-letter class (TP, TU); then one level for each
// further group of digits, a group beginning at any character other than a digit that follows a
// digit ("X928.06-62": X, X928, X928.06, X928.06-62). A number that begins with no letter has its
// first group as its top level ("21.2": 21, 21.2). Blanks around the number are dropped, letters
// taken in upper case; an empty number has no levels.
std::vector<std::string> ClassLevels(std::string_view number);

// One level of the class counts: every row whose number reaches it, and how many stop at it.
// rows == stop + the children's rows.
struct ClassCount {
  std::string label;  // the number up to this level (UTF-8)
  std::int64_t rows = 0;
  std::int64_t stop = 0;
  std::vector<ClassCount> children;  // in the order of their labels
};

// --- The checks over the rows ----------------------------------------------------------------

// A row named in a finding: its 1-based number in the list and the text concerned as written,
// in UTF-8.
struct RowText {
  std::int64_t row = 0;
  std::string text;
  bool operator==(const RowText&) const = default;
};

struct PriceEntry {
  std::int64_t row = 0;
  std::string text;  // as written, UTF-8
  std::int64_t fen = 0;
};

// Rows without the cell a buyer needs: why each one lacks it.
struct MissingEntry {
  std::int64_t row = 0;
  bool noField = false;  // the record has no field that gives the cell at all
};

struct CheckFindings {
  std::int64_t rows = 0;

  // Rows of one book, by their ISBNs' key, in row order; groups in the order of their first rows.
  struct Duplicates {
    std::uint64_t key = 0;
    std::vector<RowText> rows;
  };
  std::vector<Duplicates> duplicates;
  std::vector<RowText> wrongCheckDigits;
  std::vector<RowText> notIsbns;

  std::int64_t totalFen = 0;     // the prices counted
  std::int64_t countedRows = 0;  // rows in the total
  std::vector<PriceEntry> sets;  // set prices among them
  std::int64_t giftFen = 0;      // gifts, apart from the total
  std::vector<PriceEntry> gifts;
  std::vector<PriceEntry> unreadablePrices;

  // Every row with a class number, by level: the root's label is empty, its rows all such rows.
  ClassCount classes;

  std::vector<MissingEntry> noIsbn, noPrice, noClassNumber, noTitle;

  std::int64_t DuplicateRows() const;
};

// Gathers the findings over rows handed in list order, a block at a time; usable off the GUI
// thread over blocks that are shared and immutable. The cells are read as the blocks hold them,
// so a title edited in the list afterwards does not change the findings.
class Checker {
 public:
  explicit Checker(TextEncoding encoding);
  Checker(const Checker&) = delete;
  Checker& operator=(const Checker&) = delete;
  ~Checker();

  // The next rows in list order; nothing of the block is kept, so a reader may reuse it.
  void Add(const RowBlock& rows);
  CheckFindings Finish();

 private:
  struct State;
  void Row(const RowBlock& rows, std::size_t r);

  TextEncoding encoding_;
  std::unique_ptr<State> state_;
};

// The checks over a read's blocks, in order.
CheckFindings CheckRows(const std::vector<std::shared_ptr<const RowBlock>>& blocks,
                        TextEncoding encoding);

}  // namespace marc
