// Runs a program and writes its peak resident memory in KiB to a file; exits as the program did.
// A test harness cannot measure this itself: a child forked from a large process inherits that
// process's peak, and exec keeps it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: peak_memory RESULT_FILE PROGRAM [ARGS...]\n");
    return 127;
  }
  pid_t child = fork();
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return 127;
  if (std::FILE* result = std::fopen(argv[1], "w")) {
    std::fprintf(result, "%ld\n", usage.ru_maxrss);
    std::fclose(result);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
