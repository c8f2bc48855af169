// Helpers for the file-layer tests: a scratch folder, a second process that
// takes locks on command, and running a check in a forked child (optionally
// as an unprivileged user).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace cairn::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class TScratchDir {
 public:
  TScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cairn-io-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    path_ = ::mkdtemp(buf.data());
    ::chmod(path_.c_str(), 0755);  // reachable for the unprivileged checks
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ::chmod(path.c_str(), mode);
}

inline std::string ReadFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

// The lock helper binary, driven one line at a time.
class TOtherProcess {
 public:
  TOtherProcess() {
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Move both ends clear of 0 and 1 first: with no standard input the
      // pipes themselves may have been given those numbers.
      int in = ::fcntl(to_child[0], F_DUPFD, 10);
      int out = ::fcntl(from_child[1], F_DUPFD, 10);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::execl(CAIRN_LOCK_HELPER, CAIRN_LOCK_HELPER, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    out_ = ::fdopen(to_child[1], "w");
    in_ = ::fdopen(from_child[0], "r");
  }
  ~TOtherProcess() {
    std::fputs("quit\n", out_);
    std::fclose(out_);
    std::fclose(in_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  TOtherProcess(const TOtherProcess&) = delete;
  TOtherProcess& operator=(const TOtherProcess&) = delete;

  // Sends a command and waits for its answer line.
  std::string Ask(const std::string& command) {
    std::fputs((command + "\n").c_str(), out_);
    std::fflush(out_);
    char line[256];
    if (std::fgets(line, sizeof line, in_) == nullptr) return "<no answer>";
    std::string answer(line);
    while (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  FILE* in_ = nullptr;
};

// Runs `check` in a forked child and returns its exit code (or 128 + signal).
// With `unprivileged`, the child first drops to the user nobody.
inline int RunInChild(const std::function<int()>& check, bool unprivileged = false) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (unprivileged && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    int rc = 125;
    try {
      rc = check();
    } catch (...) {
      rc = 124;
    }
    ::_exit(rc);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace cairn::testing
