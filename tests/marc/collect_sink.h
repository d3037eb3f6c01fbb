// A read sink that keeps everything it is told, for tests of the read path.
#pragma once

#include <cstdint>
#include <vector>

#include "reader.h"

namespace marc {

class CollectSink : public ReadSink {
 public:
  void AppendRow(BookRow&& row) override { rows.push_back(std::move(row)); }
  void Progress(std::int64_t n) override { progress.push_back(n); }
  void Elapsed(const Text& text) override { elapsed.push_back(text); }
  void PassedOver(const BadRecord& record) override { passedOver.push_back(record); }

  std::vector<BookRow> rows;
  std::vector<std::int64_t> progress;
  std::vector<Text> elapsed;
  std::vector<BadRecord> passedOver;
};

}  // namespace marc
