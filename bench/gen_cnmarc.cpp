// gen_cnmarc: writes a large realistic CNMARC file (GBK) for benchmarks and manual trials.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cnmarc_gen.h"

namespace {

int Usage() {
  std::fputs(
      "usage: gen_cnmarc [--records N] [--layout lines|concat] [--seed S] OUTPUT\n"
      "  --records N   number of records (default 100000; about 1 KB each)\n"
      "  --layout      lines: one record per line, CR LF after each (default);\n"
      "                concat: records back to back, no line breaks\n"
      "  --seed S      the same seed gives the same file (default 1)\n",
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
  Layout layout = Layout::Lines;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--records" && hasValue) {
      if (!ParseCount(argv[++i], records)) return Usage();
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
    const auto bytes =
        tessaly::bench::WriteCnmarcFile(output, static_cast<std::int64_t>(records), layout, seed);
    std::fprintf(stderr, "%llu records, %llu bytes (%s) written to %s\n", records,
                 static_cast<unsigned long long>(bytes), tessaly::bench::LayoutName(layout),
                 output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_cnmarc: %s\n", e.what());
    return 1;
  }
  return 0;
}
