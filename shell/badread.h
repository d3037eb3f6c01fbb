// The read past bad records, as the window offers it: the choice in the failure box, the bad list
// of a read that passed over bad records, the box at its end and the saving of the bad records.
// The presenter runs the reads; this room decides what the boxes say and what their buttons mean.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "ports.h"
#include "readerror.h"

namespace tessaly {

class BadReadFlow {
 public:
  explicit BadReadFlow(Dialogs& dialogs) : dialogs_(dialogs) {}

  // "打开文件失败！" with details; with 「继续读取，列出坏记录」 beside 确定 when canPassOver (a
  // fault of one record in a file that can be read again). True when the user chose to read on.
  bool ShowOpenFailed(const std::string& details, bool canPassOver);

  // A read that passed over bad records ended with rows rows: keeps its bad list (until Clear)
  // and shows how many were read and skipped, offering to save the bad records of file.
  void Finished(const std::filesystem::path& file, std::int64_t rows,
                std::shared_ptr<const marc::BadList> bad);
  // The bad list of the last read that passed over bad records; null when none is kept.
  const std::shared_ptr<const marc::BadList>& Bad() const { return bad_; }
  // The list is emptied, another file is read or the window closes.
  void Clear() { bad_.reset(); }

 private:
  // Asks for a name and writes the bad records there; false when the writing failed (said).
  bool Save(const std::filesystem::path& file);

  Dialogs& dialogs_;
  std::shared_ptr<const marc::BadList> bad_;
};

// The bad records' box details: the first few listed one a line, then how many more.
std::string BadRecordsDetails(const marc::BadList& bad);

}  // namespace tessaly
