// What the two check benchmarks share: their command line and the sink that keeps a read's
// blocks as the window's list holds them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reader.h"

struct CheckBenchInput {
  int repeat = 5;
  std::string path;
  std::vector<std::string> needles;
};

// [--repeat N] FILE [NEEDLE...]; needles default to a common title word, a rarer one, Latin
// letters and a text in no row. Prints the usage line for program and gives nothing without FILE.
inline std::optional<CheckBenchInput> ParseCheckBenchInput(int argc, char** argv,
                                                           const char* program) {
  CheckBenchInput in;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      in.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (in.path.empty()) {
      in.path = arg;
    } else {
      in.needles.push_back(arg);
    }
  }
  if (in.path.empty()) {
    std::fprintf(stderr, "usage: %s [--repeat N] FILE [NEEDLE...]\n", program);
    return std::nullopt;
  }
  if (in.needles.empty()) in.needles = {"中国", "算法", "python", "不在任何一行里"};
  return in;
}

class KeepBlocks : public marc::ReadSink {
 public:
  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t) override {
    blocks.push_back(std::move(rows));
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::vector<std::shared_ptr<const marc::RowBlock>> blocks;
};
