#include "test_office.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace tessaly::testing {

TestOffice::TestOffice(std::string pipe) : pipe_(std::move(pipe)) {
  int control[2];
  int report[2];
  if (pipe2(control, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, control[0], 0);
  posix_spawn_file_actions_adddup2(&actions, report[1], 1);
  const std::string guard = TESSALY_OFFICE_GUARD;
  const std::string soffice = TESSALY_LO_PROGRAM_DIR "/soffice";
  char* argv[] = {const_cast<char*>(guard.c_str()), const_cast<char*>(soffice.c_str()),
                  const_cast<char*>(pipe_.c_str()), nullptr};
  const int spawned = posix_spawn(&guard_, guard.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(control[0]);
  close(report[1]);
  if (spawned != 0) {
    close(control[1]);
    close(report[0]);
    throw std::runtime_error("cannot run " + guard);
  }
  control_ = control[1];
  std::string line;
  char c;
  while (read(report[0], &c, 1) == 1 && c != '\n') line += c;
  close(report[0]);
  office_ = line.empty() ? -1 : static_cast<pid_t>(std::stol(line));
  if (office_ <= 0) {
    Stop();
    throw std::runtime_error("the office guard did not start an office");
  }
}

TestOffice::~TestOffice() { Stop(); }

void TestOffice::Kill() {
  if (office_ <= 0) return;
  kill(-office_, SIGKILL);
  // SIGKILL is not instant; a moment later the office's end of the pipe is closed.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

void TestOffice::Signal(int sig) {
  if (office_ > 0) kill(-office_, sig);
}

void TestOffice::Stop() {
  if (control_ >= 0) {
    close(control_);
    control_ = -1;
  }
  if (guard_ > 0) {
    while (waitpid(guard_, nullptr, 0) < 0 && errno == EINTR) {
    }
    guard_ = -1;
  }
  office_ = -1;
}

std::string UniquePipeName(const std::string& what) {
  return "tessaly-" + what + "-" + std::to_string(getpid());
}

}  // namespace tessaly::testing
