// Starting the simulated unit and running the programs under test, for the
// end-to-end tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vyo::e2e {

struct Result {
  int exitCode = -1;
  std::string out, err;
  double seconds = 0;
};

inline pid_t Spawn(const std::vector<std::string>& argv, int* outFd, int* errFd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  *outFd = out[0];
  *errFd = err[0];
  return pid;
}

// Runs a program to its end (killed after `timeoutS`), collecting its output.
inline Result Run(const std::vector<std::string>& argv, int timeoutS = 60) {
  Result r;
  int outFd, errFd;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(argv, &outFd, &errFd);
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::seconds(timeoutS) - (std::chrono::steady_clock::now() - start);
    const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
    if (ms <= 0 || poll(fds, 2, ms) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(p.fd, buf, sizeof buf);
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open;
      } else {
        (p.fd == outFd ? r.out : r.err).append(buf, size_t(n));
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

// A running vyotool-sim; its pseudo-terminal path is read from its first line.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args) {
    args.insert(args.begin(), VYOTOOL_SIM);
    pid_ = Spawn(args, &outFd_, &errFd_);
    std::string line;
    char c;
    pollfd p{outFd_, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(outFd_, &c, 1) == 1 && c != '\n') line.push_back(c);
    path_ = line;
  }
  ~Sim() { Stop(); }
  const std::string& path() const { return path_; }
  // Ends the unit (it saves its state); returns its exit code.
  int Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }
  // Waits for the unit to end by itself (e.g. after vanishing).
  int Wait() {
    if (pid_ <= 0) return exit_;
    int status = 0;
    waitpid(pid_, &status, 0);
    close(outFd_);
    close(errFd_);
    pid_ = -1;
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1, exit_ = -1;
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The value of a "key value" line of the simulated unit's state file.
inline std::string StateValue(const std::string& state, const std::string& key) {
  std::istringstream in(state);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  return {};
}

inline std::string TempPath(const std::string& name) {
  char dir[] = "/tmp/vyo-e2e-XXXXXX";
  return std::string(mkdtemp(dir)) + "/" + name;
}

}  // namespace vyo::e2e
