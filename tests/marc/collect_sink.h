// A read sink that keeps everything it is told, for tests of the read path.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "reader.h"

namespace marc {

class CollectSink : public ReadSink {
 public:
  void AppendRow(BookRow&& row) override { rows.push_back(std::move(row)); }
  void Progress(std::int64_t n) override { progress.push_back(n); }
  void Elapsed(std::chrono::steady_clock::duration time) override { elapsed.push_back(time); }
  void PassedOver(const BadRecord& record) override { passedOver.push_back(record); }

  std::vector<BookRow> rows;
  std::vector<std::int64_t> progress;
  std::vector<std::chrono::steady_clock::duration> elapsed;
  std::vector<BadRecord> passedOver;
};

}  // namespace marc
