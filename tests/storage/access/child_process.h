// A child process of a test, with pipes to its standard input and output, so
// that the test can sequence itself with the child through lines alone.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace cairn::testing {

class TChild {
 public:
  TChild(const std::string& program, std::vector<std::string> args) {
    int in[2], out[2];
    // Close-on-exec: a later child must not keep this one's input open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      std::vector<char*> argv;
      std::string path = program;
      argv.push_back(path.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_child_ = fdopen(in[1], "w");
    from_child_ = fdopen(out[0], "r");
  }
  ~TChild() {
    CloseInput();
    if (from_child_) std::fclose(from_child_);
    if (pid_ > 0) Wait();
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  bool started() const { return pid_ > 0 && to_child_ && from_child_; }
  // The next line without its newline; empty at the end of the output.
  std::string ReadLine() {
    std::string line;
    char buffer[1024];
    while (from_child_ && std::fgets(buffer, sizeof buffer, from_child_)) {
      line += buffer;
      if (line.back() == '\n') {
        line.pop_back();
        break;
      }
    }
    return line;
  }
  std::vector<std::string> ReadAll() {
    std::vector<std::string> lines;
    for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) lines.push_back(line);
    return lines;
  }
  void WriteLine(const std::string& line) {
    if (!to_child_) return;
    std::fputs((line + "\n").c_str(), to_child_);
    std::fflush(to_child_);
  }
  // Sends a line and returns the answer.
  std::string Ask(const std::string& line) {
    WriteLine(line);
    return ReadLine();
  }
  void CloseInput() {
    if (to_child_) std::fclose(to_child_);
    to_child_ = nullptr;
  }
  // Exit status; 128 + signal when killed.
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* to_child_ = nullptr;
  FILE* from_child_ = nullptr;
};

}  // namespace cairn::testing
