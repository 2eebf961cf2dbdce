// Measurements in child processes with a time limit, for the benchmarks that
// drive whole requests or external programs: a run that takes longer is
// killed, a library failure cannot take the benchmark process down, and each
// child starts with a fresh library and OpenMP runtime (the parent never
// calls the library).
//
// Header-only: the benchmarks are single-file programs.
#ifndef QUOR_BENCH_CHILD_PROCESS_H
#define QUOR_BENCH_CHILD_PROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quor::bench {

// Seconds a run may take: environment QUOR_BENCH_TIMEOUT, else fallback.
inline double time_limit(double fallback) {
  const char* v = std::getenv("QUOR_BENCH_TIMEOUT");
  const double t = v != nullptr ? std::atof(v) : 0.0;
  return t > 0 ? t : fallback;
}

// Monotonic wall clock, seconds.
inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// User + system seconds of a resource record.
inline double cpu_of(const struct rusage& r) {
  return double(r.ru_utime.tv_sec) + double(r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Peak resident memory of this process so far, kilobytes.
inline long self_peak_kb() {
  struct rusage r {};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

// CPU seconds of this process so far (every thread).
inline double self_cpu() {
  struct rusage r {};
  getrusage(RUSAGE_SELF, &r);
  return cpu_of(r);
}

struct ChildRun {
  bool timed_out = false;
  bool exited = false;  // normal exit (see status)
  int status = 0;       // exit status, or the signal
  double wall = 0.0;    // fork to exit
  double cpu = 0.0;     // the child and the descendants it waited for
  long peak_kb = 0;     // peak resident memory of the child or of a descendant it waited for (kilobytes)
  std::string output;   // what the child wrote on its report pipe
};

// Runs body in a child process (its own process group, standard input
// /dev/null) whose report pipe is fd; its standard output and error go to the
// pipe too.  The child exits with body's value; after limit seconds its whole
// group is killed.
inline ChildRun run_child(const std::function<int(int fd)>& body, double limit) {
  ChildRun r;
  int fds[2];
  if (pipe(fds) != 0) {
    r.status = -1;
    r.output = std::string("pipe: ") + std::strerror(errno);
    return r;
  }
  std::fflush(nullptr);
  const double t0 = now();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    r.status = -1;
    r.output = std::string("fork: ") + std::strerror(errno);
    return r;
  }
  if (pid == 0) {
    setpgid(0, 0);
    close(fds[0]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    _exit(body(fds[1]));
  }
  setpgid(pid, pid);
  close(fds[1]);
  char buf[65536];
  bool open_pipe = true;
  for (;;) {
    const double left = limit - (now() - t0);
    if (left <= 0) {
      r.timed_out = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      break;
    }
    if (!open_pipe) {
      // The pipe is closed; wait for the exit itself.
      int st = 0;
      struct rusage ru {};
      const pid_t w = wait4(pid, &st, WNOHANG, &ru);
      if (w == pid) {
        r.wall = now() - t0;
        r.cpu = cpu_of(ru);
        r.peak_kb = ru.ru_maxrss;
        r.exited = WIFEXITED(st);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : WTERMSIG(st);
        close(fds[0]);
        return r;
      }
      usleep(1000);
      continue;
    }
    struct pollfd p {fds[0], POLLIN, 0};
    const int ms = int(std::min(left, 1.0) * 1000.0) + 1;
    const int n = poll(&p, 1, ms);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      const ssize_t got = read(fds[0], buf, sizeof buf);
      if (got > 0)
        r.output.append(buf, std::size_t(got));
      else if (got == 0 || errno != EINTR)
        open_pipe = false;
    }
  }
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  r.wall = now() - t0;
  r.cpu = cpu_of(ru);
  r.peak_kb = ru.ru_maxrss;
  r.status = WIFSIGNALED(st) ? WTERMSIG(st) : WEXITSTATUS(st);
  close(fds[0]);
  return r;
}

// Writes report on fd entirely (a child's last word); 0 when it could, else 1.
inline int write_report(int fd, const std::string& report) {
  std::fflush(nullptr);
  std::size_t done = 0;
  while (done < report.size()) {
    const ssize_t w = write(fd, report.data() + done, report.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return 1;
    done += std::size_t(w);
  }
  return 0;
}

// Why a child gave no result: the time-out, or its exit and the tail of its output.
inline std::string describe_failure(const ChildRun& c, double limit) {
  if (c.timed_out) {
    char b[64];
    std::snprintf(b, sizeof b, "timeout after %.0f s", limit);
    return b;
  }
  std::string tail = c.output;
  if (tail.size() > 300) tail = "..." + tail.substr(tail.size() - 300);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == ' ')) tail.pop_back();
  return (c.exited ? "exit status " : "killed by signal ") + std::to_string(c.status) +
         (tail.empty() ? "" : ": " + tail);
}

// ---- peer programs ----

// 1 when program is an executable file in a directory of PATH.
inline bool installed(const char* program) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(ss, dir, ':'))
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Scratch directory of the peers' files, removed at exit.
inline const std::filesystem::path& scratch() {
  struct Dir {
    std::filesystem::path path;
    Dir() {
      std::string t = (std::filesystem::temp_directory_path() / "quor-bench-XXXXXX").string();
      if (mkdtemp(t.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
      path = t;
    }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Dir dir;
  return dir.path;
}

inline void write_file(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

// A child's body: runs argv in dir (127 when it cannot be run).
inline int exec_in(const std::filesystem::path& dir, std::vector<std::string> argv) {
  if (chdir(dir.c_str()) != 0) return 126;
  std::vector<char*> a;
  for (std::string& s : argv) a.push_back(s.data());
  a.push_back(nullptr);
  execvp(a[0], a.data());
  return 127;
}

}  // namespace quor::bench

#endif  // QUOR_BENCH_CHILD_PROCESS_H
