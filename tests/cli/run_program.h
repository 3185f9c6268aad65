// Runs a program as an administrator runs it from a shell: its standard
// input from a file, its output and errors into files. The front-end tests
// run kx8-upgrade through it.
#ifndef KX8_TESTS_CLI_RUN_PROGRAM_H_
#define KX8_TESTS_CLI_RUN_PROGRAM_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kx8::cli {

// args: the program's file, then its arguments. Returns its exit status,
// 128 + the signal's number when a signal ended it.
inline int RunProgramInto(std::vector<std::string> args, const std::string& stdin_path, const std::string& out_file,
                          const std::string& err_file) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open(stdin_path.c_str(), O_RDONLY);
    int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace kx8::cli

#endif  // KX8_TESTS_CLI_RUN_PROGRAM_H_
