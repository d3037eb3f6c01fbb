#include "office_start_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "automation.h"
#include "usertexts.h"

namespace tessaly {

void StartDetached(const std::string& program, const std::vector<std::string>& args) {
  if (access(program.c_str(), X_OK) != 0) {
    throw ConnectError(texts::OfficeCannotRun(program, std::strerror(errno)));
  }
  // Everything the children need is built before fork: the program has threads (the UNO
  // bridge's at least), so between fork and exec only async-signal-safe calls are allowed.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t middle = fork();
  if (middle < 0) throw ConnectError(texts::OfficeCannotStart(std::strerror(errno)));
  if (middle == 0) {
    setsid();
    const pid_t office = fork();
    if (office != 0) _exit(office < 0 ? 1 : 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    syscall(SYS_close_range, 3U, ~0U, 0U);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
    // ECHILD: the program reaps its children itself (SIGCHLD ignored); nothing to learn then.
    if (errno != EINTR) return;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw ConnectError(texts::OfficeCannotStart("fork"));
  }
}

}  // namespace tessaly
