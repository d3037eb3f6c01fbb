// gen_cnmarc: writes a large realistic CNMARC file (GBK) for benchmarks and manual trials.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "cnmarc_gen.h"

namespace {

int Usage() {
  std::fputs(
      "usage: gen_cnmarc [--records N] [--layout lines|concat] [--seed S] [--damage PERCENT]\n"
      "                  OUTPUT\n"
      "  --records N   number of records (default 100000; about 1 KB each)\n"
      "  --layout      lines: one record per line, CR LF after each (default);\n"
      "                concat: records back to back, no line breaks\n"
      "  --seed S      the same seed gives the same file (default 1)\n"
      "  --damage P    damages P percent of the records (a line break inside, a leader\n"
      "                length that is no number, a directory past the data) and writes\n"
      "                the bad records a reader should list to OUTPUT.truth.tsv\n",
      stderr);
  return 2;
}

bool ParseCount(const char* s, unsigned long long& out) {
  char* end = nullptr;
  out = std::strtoull(s, &end, 10);
  return *s != '\0' && *s != '-' && end && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  using tessaly::bench::Layout;
  unsigned long long records = 100000, seed = 1;
  tessaly::bench::Damage damage;
  Layout layout = Layout::Lines;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--records" && hasValue) {
      if (!ParseCount(argv[++i], records)) return Usage();
    } else if (arg == "--damage" && hasValue) {
      char* end = nullptr;
      damage.percent = std::strtod(argv[++i], &end);
      if (!end || *end != '\0' || !(damage.percent >= 0 && damage.percent <= 100)) return Usage();
    } else if (arg == "--seed" && hasValue) {
      if (!ParseCount(argv[++i], seed)) return Usage();
    } else if (arg == "--layout" && hasValue) {
      const std::string v = argv[++i];
      if (v == "lines")
        layout = Layout::Lines;
      else if (v == "concat")
        layout = Layout::Concat;
      else
        return Usage();
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage();
    } else if (output) {
      return Usage();
    } else {
      output = argv[i];
    }
  }
  if (!output) return Usage();
  try {
    damage.seed = seed;
    std::vector<tessaly::bench::BadTruth> truth;
    const auto bytes = tessaly::bench::WriteCnmarcFile(output, static_cast<std::int64_t>(records),
                                                       layout, seed, damage, &truth);
    if (damage.percent > 0) {
      // record, line, byte offset, bytes, fault, hint: as marcrows --keep-going lists them.
      const std::string truthPath = std::string(output) + ".truth.tsv";
      std::FILE* t = std::fopen(truthPath.c_str(), "wb");
      if (!t) throw std::runtime_error("cannot create " + truthPath);
      for (const auto& b : truth)
        std::fprintf(t, "%lld\t%lld\t%llu\t%llu\t%s\t%s\n", static_cast<long long>(b.record),
                     static_cast<long long>(b.line), static_cast<unsigned long long>(b.offset),
                     static_cast<unsigned long long>(b.length), b.fault, b.hint);
      if (std::fclose(t) != 0) throw std::runtime_error("cannot write " + truthPath);
      std::fprintf(stderr, "%zu bad records listed in %s\n", truth.size(), truthPath.c_str());
    }
    std::fprintf(stderr, "%llu records, %llu bytes (%s) written to %s\n", records,
                 static_cast<unsigned long long>(bytes), tessaly::bench::LayoutName(layout),
                 output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_cnmarc: %s\n", e.what());
    return 1;
  }
  return 0;
}
