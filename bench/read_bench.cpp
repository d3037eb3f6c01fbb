// The read path (load + decode, no window, rows counted as `marcrows --quiet` counts them) beside
// two baselines on the same generated files:
// a bare walk (lines and records cut, leader and directory read, nothing copied) and libyaz's
// ISO 2709 reader. Every contender starts from the file on disk (in the page cache after the
// first run), so loading is counted for all alike.
//
// Ends with a table of the medians side by side and the read path's ratios to the baselines.
// Files live in $TESSALY_BENCH_DATA, else in the build folder's bench-data/, and are generated
// when missing.
#include <benchmark/benchmark.h>
#ifdef TESSALY_HAVE_YAZ
#include <yaz/marcdisp.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cnmarc_gen.h"
#include "reader.h"
#include "text.h"

namespace {

using tessaly::bench::Layout;

struct Input {
  std::string label;  // "100k lines"
  std::string path;
  std::int64_t records = 0;
  std::int64_t bytes = 0;
};

// The whole file into a buffer, as every reader here must have it.
std::string LoadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  bytes.resize(got);
  return bytes;
}

// Calls f(record) for every record: lines cut at CR / LF, records cut after each 0x1D, the same
// pieces the read path decodes.
template <class F>
void ForEachRecord(std::string_view bytes, F&& f) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    const auto* lf =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* lineEnd = lf ? lf : end;
    const char* next = lf ? lf + 1 : end;
    if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
    while (p < lineEnd) {
      const auto* rt =
          static_cast<const char*>(std::memchr(p, '\x1D', static_cast<std::size_t>(lineEnd - p)));
      const char* recordEnd = rt ? rt + 1 : lineEnd;
      f(std::string_view(p, static_cast<std::size_t>(recordEnd - p)));
      p = recordEnd;
    }
    p = next;
  }
}

int Digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

// Counts rows as `marcrows --quiet` does, and touches two cells of each row so the decoding
// cannot be skipped.
class CountingSink : public marc::ReadSink {
 public:
  bool AppendRows(std::shared_ptr<const marc::RowBlock> block, std::int64_t) override {
    rows += static_cast<std::int64_t>(block->Size());
    for (std::size_t r = 0; r < block->Size(); ++r)
      cellBytes += block->Cell(r, marc::Title).size() + block->Cell(r, marc::Summary).size();
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::int64_t rows = 0;
  std::size_t cellBytes = 0;
};

void SetCounters(benchmark::State& state, const Input& in) {
  state.SetItemsProcessed(state.iterations() * in.records);
  state.SetBytesProcessed(state.iterations() * in.bytes);
}

void CheckCount(benchmark::State& state, std::int64_t got, const Input& in) {
  if (got != in.records)
    state.SkipWithError(
        ("saw " + std::to_string(got) + " records of " + std::to_string(in.records)).c_str());
}

// Reading the bytes alone: the floor under every contender.
void FileLoad(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    std::string bytes = LoadFile(in->path);
    benchmark::DoNotOptimize(bytes.data());
  }
  SetCounters(state, *in);
}

void ReadPath(benchmark::State& state, const Input* in) {
  marc::RecordReader reader;
  std::int64_t rows = 0;
  for (auto _ : state) {
    CountingSink sink;
    reader.Read(in->path, sink);
    benchmark::DoNotOptimize(sink.cellBytes);
    rows = sink.rows;
  }
  CheckCount(state, rows, *in);
  SetCounters(state, *in);
}

void BareWalk(benchmark::State& state, const Input* in) {
  std::int64_t records = 0;
  for (auto _ : state) {
    const std::string bytes = LoadFile(in->path);
    records = 0;
    std::int64_t fields = 0, dataBytes = 0;
    ForEachRecord(bytes, [&](std::string_view r) {
      if (r.size() < 25) return;
      ++records;
      const int length = Digits(r.data(), 5);
      const int base = Digits(r.data() + 12, 5);
      benchmark::DoNotOptimize(length);
      // Entries: tag, field length (4 digits), start within the data (5 digits).
      const auto dirEnd = static_cast<std::size_t>(base > 0 ? base - 1 : 0);
      for (std::size_t e = 24; e + 12 <= dirEnd && e + 12 <= r.size(); e += 12) {
        const char* entry = r.data() + e;
        const int fieldLength = Digits(entry + 3, 4);
        const int start = Digits(entry + 7, 5);
        if (static_cast<std::size_t>(base + start + fieldLength) <= r.size()) {
          ++fields;
          dataBytes += fieldLength + (entry[0] == '2');
        }
      }
    });
    benchmark::DoNotOptimize(fields);
    benchmark::DoNotOptimize(dataBytes);
  }
  CheckCount(state, records, *in);
  SetCounters(state, *in);
}

#ifdef TESSALY_HAVE_YAZ
// libyaz parses each record into its field tree (no output rendering), fed the same pieces.
void Libyaz(benchmark::State& state, const Input* in) {
  yaz_marc_t mt = yaz_marc_create();
  std::int64_t records = 0;
  for (auto _ : state) {
    const std::string bytes = LoadFile(in->path);
    records = 0;
    ForEachRecord(bytes, [&](std::string_view r) {
      if (yaz_marc_read_iso2709(mt, r.data(), static_cast<int>(r.size())) > 0) ++records;
    });
  }
  yaz_marc_destroy(mt);
  CheckCount(state, records, *in);
  SetCounters(state, *in);
}
#endif

bool OnTerminal() {
#ifdef _WIN32
  return false;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// Prints the usual console lines, and at the end one table of the medians (or the single runs
// when not repeated) side by side.
class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a log of the run stays plain text.
  explicit SideBySideReporter(std::vector<Input> inputs)
      : ConsoleReporter(OnTerminal() ? OO_ColorTabular : OO_Tabular), inputs_(std::move(inputs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single) continue;
      auto items = run.counters.find("items_per_second");
      auto bytes = run.counters.find("bytes_per_second");
      if (items == run.counters.end() || bytes == run.counters.end()) continue;
      std::string name = run.run_name.str();
      if (const auto at = name.find("/real_time"); at != std::string::npos) name.erase(at);
      results_[name] = {items->second.value, bytes->second.value};
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    static const char* const kContenders[] = {"file_load", "read_path", "bare_walk", "libyaz"};
    std::printf("\nMedians, wall time (records/s | MB/s, 1 MB = 10^6 bytes)\n");
    std::printf("%-12s", "file");
    for (const char* c : kContenders) std::printf(" %21s", c);
    std::printf(" %10s %10s\n", "read/bare", "read/yaz");
    for (const Input& in : inputs_) {
      std::printf("%-12s", in.label.c_str());
      for (const char* c : kContenders) {
        const auto it = results_.find(std::string(c) + "/" + Key(in));
        if (it == results_.end()) {
          std::printf(" %21s", "-");
          continue;
        }
        std::printf(" %11.0f | %7.1f", it->second.items, it->second.bytes / 1e6);
      }
      const auto read = results_.find("read_path/" + Key(in));
      const auto bare = results_.find("bare_walk/" + Key(in));
      const auto yaz = results_.find("libyaz/" + Key(in));
      if (read != results_.end() && bare != results_.end())
        std::printf(" %10.2f", read->second.items / bare->second.items);
      else
        std::printf(" %10s", "-");
      if (read != results_.end() && yaz != results_.end())
        std::printf(" %10.2f", read->second.items / yaz->second.items);
      else
        std::printf(" %10s", "-");
      std::printf("\n");
    }
    std::printf(
        "Targets: read/bare >= 0.67 and read/yaz >= 5.00 on 100k, read/bare >= 0.50 on 1M\n");

    // Every contender reads the whole file first; what each does beyond that shows where the
    // read path's own time goes, apart from the page faults and copying every reader pays.
    std::printf("\nMicroseconds per record beyond file_load (wall time)\n");
    std::printf("%-12s %10s %10s %10s %10s %10s\n", "file", "read_path", "bare_walk", "libyaz",
                "bare/read", "yaz/read");
    for (const Input& in : inputs_) {
      const auto load = results_.find("file_load/" + Key(in));
      if (load == results_.end()) continue;
      auto beyond = [&](const char* name) -> std::optional<double> {
        const auto it = results_.find(std::string(name) + "/" + Key(in));
        if (it == results_.end()) return std::nullopt;
        return 1e6 / it->second.items - 1e6 / load->second.items;
      };
      const auto read = beyond("read_path"), bare = beyond("bare_walk"), yaz = beyond("libyaz");
      std::printf("%-12s", in.label.c_str());
      for (const auto& v : {read, bare, yaz}) {
        if (v)
          std::printf(" %10.3f", *v);
        else
          std::printf(" %10s", "-");
      }
      for (const auto& v : {bare, yaz}) {
        if (v && read && *read > 0)
          std::printf(" %10.2f", *v / *read);
        else
          std::printf(" %10s", "-");
      }
      std::printf("\n");
    }
    std::fflush(stdout);
  }

  static std::string Key(const Input& in) {
    std::string key = in.label;
    for (char& c : key)
      if (c == ' ') c = '_';
    return key;
  }

 private:
  struct Rates {
    double items, bytes;
  };
  std::vector<Input> inputs_;
  std::map<std::string, Rates> results_;
};

std::string DataDir() {
  if (const char* dir = std::getenv("TESSALY_BENCH_DATA"); dir && *dir) return dir;
  return TESSALY_BENCH_DATA_DEFAULT;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::vector<Input> inputs;
  try {
    for (const std::int64_t n : {10000, 100000, 1000000}) {
      for (const Layout layout : {Layout::Lines, Layout::Concat}) {
        if (n == 1000000 && layout == Layout::Concat) continue;  // one layout is enough at 1 GB
        Input in;
        in.label =
            (n >= 1000000 ? std::to_string(n / 1000000) + "M " : std::to_string(n / 1000) + "k ") +
            tessaly::bench::LayoutName(layout);
        in.path = tessaly::bench::EnsureCnmarcFile(DataDir(), n, layout);
        in.records = n;
        in.bytes = static_cast<std::int64_t>(std::filesystem::file_size(in.path));
        inputs.push_back(std::move(in));
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "read_bench: %s\n", e.what());
    return 1;
  }

  using Fn = void (*)(benchmark::State&, const Input*);
  const std::pair<const char*, Fn> contenders[] = {
      {"file_load", FileLoad},
      {"read_path", ReadPath},
      {"bare_walk", BareWalk},
#ifdef TESSALY_HAVE_YAZ
      {"libyaz", Libyaz},
#endif
  };
  for (const Input& in : inputs) {
    for (const auto& [name, fn] : contenders) {
      benchmark::RegisterBenchmark((std::string(name) + "/" + SideBySideReporter::Key(in)).c_str(),
                                   fn, &in)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();  // the read path decodes on two threads
    }
  }
  SideBySideReporter reporter(inputs);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
