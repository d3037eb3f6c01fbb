// A headless LibreOffice of the test run's own, run through tessaly_office_guard so that it is
// removed (processes, pipes, profile) even when the test process dies.
#pragma once

#include <sys/types.h>

#include <string>

namespace tessaly::testing {

class TestOffice {
 public:
  // Starts the office on pipe; it takes a few seconds before it answers there.
  explicit TestOffice(std::string pipe);
  ~TestOffice();
  TestOffice(const TestOffice&) = delete;
  TestOffice& operator=(const TestOffice&) = delete;

  const std::string& Pipe() const { return pipe_; }
  // Kills the office's processes at once, as a crash would; its remains go with Stop.
  void Kill();
  // Sends sig to the office's process group (SIGSTOP: it stops answering; SIGCONT: it goes on).
  void Signal(int sig);
  // Ends the office and returns once its processes, pipes and profile are gone.
  void Stop();

 private:
  std::string pipe_;
  pid_t guard_ = -1;
  int control_ = -1;
  pid_t office_ = -1;
};

// A pipe name no other test process uses.
std::string UniquePipeName(const std::string& what);

}  // namespace tessaly::testing
