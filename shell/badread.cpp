#include "badread.h"

#include <algorithm>

#include "charset.h"
#include "reader.h"
#include "readfailure.h"
#include "usertexts.h"

namespace tessaly {

namespace {

// The bad records the end box lists one by one; the rest are counted (the report lists all).
constexpr std::size_t kListed = 20;

// The buttons of the two boxes, by their index.
enum FailedButton : std::size_t { kFailedOk, kReadOn };
enum EndButton : std::size_t { kEndOk, kSave };

// The system's reason as the user reads it: UTF-8 when it spells it, the 8-bit encoding (a path
// in the system's bytes) otherwise.
std::string Utf8(std::string_view bytes) {
  if (marc::DetectEncoding(bytes) == marc::TextEncoding::Utf8) return std::string(bytes);
  return marc::DecodeToUtf8(bytes, marc::TextEncoding::Gb18030);
}

}  // namespace

std::string BadRecordsDetails(const marc::BadList& bad) {
  std::string out;
  const std::size_t listed = std::min(bad.records.size(), kListed);
  for (std::size_t i = 0; i < listed; ++i) {
    const marc::BadRecord& r = bad.records[i];
    out += texts::BadRecordLine(r.error.record, r.error.line, r.error.offset, r.length,
                                BadRecordReason(r), BadRecordHint(r));
    out += '\n';
  }
  if (bad.records.size() > listed)
    out += texts::MoreBadRecords(static_cast<std::int64_t>(bad.records.size() - listed)) + '\n';
  if (const std::int64_t notHeld = bad.NotHeld()) out += texts::BadRecordsNotHeld(notHeld) + '\n';
  if (!out.empty()) out.pop_back();
  return out;
}

bool BadReadFlow::ShowOpenFailed(const std::string& details, bool canPassOver) {
  Box box{std::string(texts::kApplicationTitle), std::string(texts::kOpenFailed), details,
          BoxIcon::None};
  if (canPassOver) box.buttons = {std::string(texts::kOk), std::string(texts::kContinuePastBad)};
  return dialogs_.ShowBox(box) == kReadOn && canPassOver;
}

void BadReadFlow::Finished(const std::filesystem::path& file, std::int64_t rows,
                           std::shared_ptr<const marc::BadList> bad) {
  bad_ = std::move(bad);
  const auto skipped = static_cast<std::int64_t>(bad_->records.size());
  Box box{std::string(texts::kApplicationTitle), texts::PassedOverSummary(rows, skipped),
          BadRecordsDetails(*bad_), BoxIcon::Information};
  if (skipped > 0) box.buttons = {std::string(texts::kOk), std::string(texts::kSaveBadRecords)};
  // A save that failed or was called off leaves the choice open again.
  while (dialogs_.ShowBox(box) == kSave && skipped > 0 && !Save(file)) {
  }
}

bool BadReadFlow::Save(const std::filesystem::path& file) {
  const std::optional<std::filesystem::path> chosen =
      dialogs_.SaveFile({std::string(texts::kSaveBadRecordsTitle), BadRecordsName(file),
                         std::string(texts::kBadRecordsFileType), "mrc"});
  if (!chosen) return false;
  if (const std::optional<std::string> why = SaveBadRecords(*bad_, *chosen, file)) {
    dialogs_.ShowBox({std::string(texts::kApplicationTitle),
                      std::string(texts::kSaveBadRecordsFailed), Utf8(*why), BoxIcon::Error});
    return false;
  }
  return true;
}

}  // namespace tessaly
