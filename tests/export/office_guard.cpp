// tessaly_office_guard [--while-alive PID] SOFFICE PIPE [ignored...]
//
// Runs a headless LibreOffice for the tests and benchmarks, with a private profile, listening
// on PIPE, and removes it again whatever happens to whoever started it: it prints the office's
// process id (which is also its process group) on stdout, then waits for its stdin to close
// (the starter stopped, or died) and kills the office's process group, its UNO pipes and its
// profile. With --while-alive it waits instead for process PID to end or for SIGTERM: that is
// how a test stands it in for the soffice the export starts itself. The office's pipe sockets are
// noted while it runs, because an office killed by a test cannot be asked for them afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The process group of pid, or -1.
pid_t GroupOf(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  const auto close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(line.substr(close + 2));
  char state;
  long ppid, pgrp;
  if (!(rest >> state >> ppid >> pgrp)) return -1;
  return static_cast<pid_t>(pgrp);
}

// Adds the paths of the UNO pipe sockets held open by processes of the group.
void NoteSockets(pid_t group, std::set<std::string>& paths) {
  std::set<std::string> inodes;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return;
  while (const dirent* e = readdir(proc)) {
    const std::string pid = e->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || GroupOf(pid) != group) {
      continue;
    }
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + pid + "/fd", ec)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
      if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  closedir(proc);
  std::ifstream unix_sockets("/proc/net/unix");
  std::string line;
  std::getline(unix_sockets, line);
  while (std::getline(unix_sockets, line)) {
    std::istringstream fields(line);
    std::string f[8];
    for (auto& x : f) fields >> x;
    if (inodes.count(f[6]) != 0 && f[7].rfind("/tmp/OSL_PIPE_", 0) == 0) paths.insert(f[7]);
  }
}

bool GroupAlive(pid_t group) { return kill(-group, 0) == 0 || errno == EPERM; }

volatile sig_atomic_t terminated = 0;
void OnTerm(int) { terminated = 1; }

}  // namespace

int main(int argc, char** argv) {
  pid_t watched = -1;
  if (argc >= 3 && std::string(argv[1]) == "--while-alive") {
    watched = static_cast<pid_t>(std::stol(argv[2]));
    argv += 2;
    argc -= 2;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: tessaly_office_guard [--while-alive PID] SOFFICE PIPE\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction term = {};
  term.sa_handler = OnTerm;
  sigaction(SIGTERM, &term, nullptr);
  const std::string soffice = argv[1];
  const std::string pipe = argv[2];
  char profile[] = "/tmp/tessaly-office-XXXXXX";
  if (mkdtemp(profile) == nullptr) return 1;

  const std::vector<std::string> args = {
      soffice,
      "--headless",
      "--invisible",
      "--nologo",
      "--norestore",
      "--nodefault",
      "--nolockcheck",
      std::string("-env:UserInstallation=file://") + profile,
      "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext"};
  std::vector<char*> argv_office;
  for (const auto& a : args) argv_office.push_back(const_cast<char*>(a.c_str()));
  argv_office.push_back(nullptr);

  const pid_t office = fork();
  if (office < 0) return 1;
  if (office == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execv(soffice.c_str(), argv_office.data());
    _exit(127);
  }
  setpgid(office, office);
  std::printf("%d\n", static_cast<int>(office));
  std::fflush(stdout);

  std::set<std::string> sockets = {"/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_" + pipe};
  bool reaped = false;
  while (!terminated) {
    if (watched > 0) {
      if (kill(watched, 0) != 0 && errno == ESRCH) break;
      poll(nullptr, 0, 200);
    } else {
      pollfd control{0, POLLIN, 0};
      const int ready = poll(&control, 1, 200);
      if (ready > 0) {
        char buffer[64];
        if (read(0, buffer, sizeof buffer) <= 0) break;
      } else if (ready < 0 && errno != EINTR) {
        break;
      }
    }
    if (!reaped && waitpid(office, nullptr, WNOHANG) == office) reaped = true;
    NoteSockets(office, sockets);
  }

  NoteSockets(office, sockets);
  kill(-office, SIGKILL);
  if (!reaped) waitpid(office, nullptr, 0);
  // soffice.bin is a child of the launcher and is reaped by init once orphaned.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (GroupAlive(office) && std::chrono::steady_clock::now() < deadline) {
    kill(-office, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (const auto& s : sockets) unlink(s.c_str());
  std::error_code ec;
  std::filesystem::remove_all(profile, ec);
  return 0;
}
