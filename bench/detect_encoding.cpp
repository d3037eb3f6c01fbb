// detect_encoding: what telling GBK from UTF-8 costs on a whole file.
//   detect_encoding FILE...
// Prints, for each file, the encoding found, its size and the best of five timings.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "reader.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: detect_encoding FILE...\n", stderr);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot open %s\n", argv[i]);
      return 1;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    double best = 1e9;
    marc::TextEncoding found = marc::TextEncoding::Gb18030;
    for (int round = 0; round < 5; ++round) {
      const auto start = std::chrono::steady_clock::now();
      found = marc::DetectEncoding(bytes);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
    }
    std::printf("%s: %s, %.1f MB, %.2f ms (%.0f MB/s)\n", argv[i],
                found == marc::TextEncoding::Utf8 ? "UTF-8" : "GBK", bytes.size() / 1e6, best * 1e3,
                bytes.size() / 1e6 / best);
  }
  return 0;
}
