#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "companion/run_program.h"

extern char** environ;

namespace mvx {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kSlice{100};

class Fd {
 public:
  Fd() = default;
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int* put() { return &fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
  bool Open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    *read.put() = fds[0];
    *write.put() = fds[1];
    return true;
  }
};

class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

// The child never inherits the service's blocked signals or ignored dispositions.
bool ResetSignals(SpawnAttributes& attributes) {
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  return posix_spawnattr_setsigmask(attributes.get(), &none) == 0 &&
         posix_spawnattr_setsigdefault(attributes.get(), &all) == 0 &&
         posix_spawnattr_setflags(attributes.get(),
                                  POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
}

// Reaps the child; kills it first unless it has ended by itself.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Reap(0);
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  // Waits for the exit; false when it has not ended yet (with WNOHANG).
  bool Reap(int flags) {
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(pid_, &status, flags);
    } while (done < 0 && errno == EINTR);
    if (done == 0) return false;
    pid_ = -1;
    if (done > 0) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return true;
  }
  int exitCode() const { return exitCode_; }

 private:
  pid_t pid_;
  int exitCode_ = -1;
};

void Drain(Fd& fd, std::string& into, std::size_t limit) {
  char buffer[4096];
  const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    fd.Reset();
    return;
  }
  // Reading on past the limit keeps a talkative child from blocking on a full pipe.
  const std::size_t room = limit - std::min(limit, into.size());
  into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         milliseconds limit, const std::atomic<bool>& stopRequested,
                         std::size_t outputLimit) {
  ProgramResult result;
  Pipe out;
  Pipe err;
  SpawnActions actions;
  SpawnAttributes attributes;
  if (!out.Open() || !err.Open() || !actions.ok() || !attributes.ok() || !ResetSignals(attributes))
    return result;
  if (posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
          0 ||
      posix_spawn_file_actions_adddup2(actions.get(), out.write.get(), STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), err.write.get(), STDERR_FILENO) != 0) {
    return result;
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Sockets and files the service holds open are no business of the child.
  if (posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) != 0)
    return result;
#endif
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) !=
      0) {
    return result;
  }
  result.started = true;
  ChildGuard child(pid);
  out.write.Reset();
  err.write.Reset();

  const auto deadline = steady_clock::now() + limit;
  while (!stopRequested && steady_clock::now() < deadline) {
    if (out.read.get() < 0 && err.read.get() < 0) {
      if (child.Reap(WNOHANG)) {
        result.finished = true;
        result.exitCode = child.exitCode();
        break;
      }
      // Both pipes closed but still running (it may have handed them on): poll its exit.
      ::usleep(10000);
      continue;
    }
    pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
    const int wait = static_cast<int>(std::clamp(left, milliseconds(1), kSlice).count());
    if (::poll(fds, 2, wait) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) Drain(out.read, result.output, outputLimit);
    if (fds[1].revents != 0) Drain(err.read, result.errors, outputLimit);
  }
  return result;
}

bool ProgramAvailable(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    dirs.remove_prefix(colon + 1);
  }
}

}  // namespace mvx
