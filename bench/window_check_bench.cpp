// window_check_bench: 检查 and find as the window's logic runs them (CheckSession, FindSession
// on their worker threads, results posted back to a loop), over a file's rows as the window's
// book list holds them.
//   window_check_bench [--repeat N] FILE [NEEDLE...]
// Reads FILE once into the book list, then best of N (default 5) wall times: from the 检查
// command until its box is shown (the checks, the summary, the details and the report to save);
// for each needle (UTF-8), from the keystroke until the first row found is selected, and until
// "第 k / n 处" (or "未找到") is shown.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "booklist.h"
#include "check_bench_input.h"
#include "checksession.h"
#include "findsession.h"
#include "reader.h"

namespace {

using Clock = std::chrono::steady_clock;

// The GUI thread's loop: posted closures run on the thread that waits in RunUntil.
class Loop : public tessaly::UiLoop {
 public:
  void Post(std::function<void()> fn) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(fn));
    }
    ready_.notify_one();
  }
  void StartTick(std::chrono::milliseconds, std::function<void()>) override {}
  void StopTick() override {}
  template <class Done>
  void RunUntil(Done done) {
    while (!done()) {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return !queue_.empty(); });
      auto fn = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      fn();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
};

struct View : tessaly::View {
  Clock::time_point selected, labelled;
  std::string label;
  void SetLabel(tessaly::LabelId id, const std::string& text) override {
    if (id != tessaly::LabelId::FindPlace || text.empty()) return;
    label = text;
    labelled = Clock::now();
  }
  void SelectRow(std::size_t) override {
    if (selected == Clock::time_point{}) selected = Clock::now();  // the first row shown
  }
  void SetCommandsEnabled(bool) override {}
  void Maximize() override {}
  void SetListHeight(int) override {}
  void RowsReset() override {}
  void RowsAppended(std::size_t, std::size_t) override {}
  void RowChanged(std::size_t) override {}
  void FocusFind() override {}
  void FocusList() override {}
  void ShowExportProgress(const tessaly::ExportProgress&) override {}
  void CloseExportProgress() override {}
  void ShowNotAnswering(const tessaly::NotAnsweringBox&) override {}
  void CloseNotAnswering() override {}
  void Close() override {}
  void Quit() override {}
};

struct Dialogs : tessaly::Dialogs {
  Clock::time_point shown;
  std::string summary;
  std::optional<std::filesystem::path> OpenFile(const std::filesystem::path&,
                                                const std::filesystem::path&) override {
    return std::nullopt;
  }
  std::size_t ShowBox(const tessaly::Box& box) override {
    shown = Clock::now();
    summary = box.text;
    return 0;
  }
  std::optional<std::filesystem::path> SaveFile(const tessaly::SaveRequest&) override {
    return std::nullopt;
  }
};

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The process's processor time: the GUI thread waits meanwhile, so it is the worker's, and
// steadier than wall time on a machine shared with other work.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  const std::optional<CheckBenchInput> in = ParseCheckBenchInput(argc, argv, "window_check_bench");
  if (!in) return 2;
  const auto& [repeat, path, needles] = *in;

  marc::RecordReader reader;
  KeepBlocks sink;
  reader.Read(path, sink);
  tessaly::BookList books;
  for (auto& block : sink.blocks) books.Append(std::move(block), reader.Encoding());
  sink.blocks.clear();
  books.ShowWaiting();
  std::printf("%s: %zu rows\n", path.c_str(), books.RowCount());

  Loop loop;
  View view;
  Dialogs dialogs;
  tessaly::ThreadWorkers threads;
  tessaly::Workers* workers = &threads;
  const auto fail = [] { std::fputs("a failure was shown\n", stderr); };
  tessaly::CheckSession checks(dialogs, loop, workers, books, fail);
  tessaly::FindSession find(view, loop, workers, books, fail);

  double checkMs = 1e300, checkCpu = 1e300;
  for (int i = 0; i < repeat; ++i) {
    const auto start = Clock::now();
    const double cpu = CpuMs();
    checks.Run({});
    loop.RunUntil([&] { return !checks.Running(); });
    checkMs = std::min(checkMs, Ms(start, dialogs.shown));
    checkCpu = std::min(checkCpu, CpuMs() - cpu);
  }
  std::printf("检查 until its box: %.0f ms, processor %.0f ms (best of %d); %s\n", checkMs,
              checkCpu, repeat, dialogs.summary.c_str());

  for (const std::string& needle : needles) {
    double firstMs = 1e300, allMs = 1e300, allCpu = 1e300;
    for (int i = 0; i < repeat; ++i) {
      find.TextChanged("", std::nullopt);  // the next keystroke searches afresh
      view.selected = view.labelled = {};
      const auto start = Clock::now();
      const double cpu = CpuMs();
      find.TextChanged(needle, std::nullopt);
      loop.RunUntil([&] { return !find.Searching(); });
      allCpu = std::min(allCpu, CpuMs() - cpu);
      if (view.selected != Clock::time_point{})
        firstMs = std::min(firstMs, Ms(start, view.selected));
      allMs = std::min(allMs, Ms(start, view.labelled));
    }
    std::printf(
        "find \"%s\": first row selected %s ms; label \"%s\" %.0f ms, processor %.0f ms "
        "(best of %d)\n",
        needle.c_str(), firstMs < 1e300 ? std::to_string(firstMs).c_str() : "(none)",
        view.label.c_str(), allMs, allCpu, repeat);
  }
  return 0;
}
