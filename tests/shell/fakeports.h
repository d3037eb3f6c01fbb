// The window logic's ports for tests: a view, dialogs, loop, clock and workers that record what
// they are told and run nothing until the test says so.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ports.h"

namespace tessaly {

struct FakeView : View {
  std::string rowCount, elapsed;  // the labels
  bool enabled = true;
  int maximized = 0, listHeight = 0, closes = 0, quits = 0, resets = 0;
  std::size_t rows = 0;
  std::optional<ExportProgress> progress;
  std::optional<NotAnsweringBox> box;
  int boxesShown = 0;

  void SetLabel(LabelId l, const std::string& t) override {
    (l == LabelId::RowCount ? rowCount : elapsed) = t;
  }
  void SetCommandsEnabled(bool e) override { enabled = e; }
  void Maximize() override { ++maximized; }
  void SetListHeight(int h) override { listHeight = h; }
  void RowsReset() override {
    ++resets;
    rows = 0;
  }
  void RowsAppended(std::size_t first, std::size_t count) override { rows = first + count; }
  void RowChanged(std::size_t) override {}
  void ShowExportProgress(const ExportProgress& p) override { progress = p; }
  void CloseExportProgress() override { progress.reset(); }
  void ShowNotAnswering(const NotAnsweringBox& b) override {
    box = b;
    ++boxesShown;
  }
  void CloseNotAnswering() override { box.reset(); }
  void Close() override { ++closes; }
  void Quit() override { ++quits; }
};

struct FakeDialogs : Dialogs {
  // Answers of the open dialog in turn; none left: cancelled.
  std::deque<std::optional<std::filesystem::path>> openAnswers;
  std::vector<std::filesystem::path> openOffered;  // the file name offered each time
  std::vector<Box> boxes;
  std::function<void(const Box&)> whileBoxShown;

  std::optional<std::filesystem::path> OpenFile(const std::filesystem::path&,
                                                const std::filesystem::path& name) override {
    openOffered.push_back(name);
    if (openAnswers.empty()) return std::nullopt;
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
  }
  void ShowBox(const Box& box) override {
    boxes.push_back(box);
    if (whileBoxShown) whileBoxShown(box);
  }
};

struct FakeLoop : UiLoop {
  std::function<void()> tick;
  void Post(std::function<void()> fn) override { fn(); }
  void StartTick(std::chrono::milliseconds, std::function<void()> t) override {
    tick = std::move(t);
  }
  void StopTick() override { tick = nullptr; }
  void Tick() {
    if (auto t = tick) t();
  }
};

struct FakeClock : Clock {
  std::chrono::milliseconds now{0};
  std::chrono::milliseconds Now() const override { return now; }
};

// Work runs when the test calls RunAll, on the test's thread.
struct FakeWorkers : Workers {
  std::vector<std::function<void()>> pending;
  void Start(std::function<void()> work) override { pending.push_back(std::move(work)); }
  bool WaitFor(const std::atomic<bool>& done, std::chrono::milliseconds) override {
    RunAll();
    return done;
  }
  void RunAll() {
    auto work = std::move(pending);
    pending.clear();
    for (auto& w : work) w();
  }
};

}  // namespace tessaly
