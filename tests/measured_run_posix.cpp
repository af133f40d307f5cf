// Runs a program and writes to a file its peak resident memory in KiB and the number of
// descriptors it still had open when it called exit; exits as the program did. The program gets
// few descriptors, so that a leak of one per file or directory makes a long run fail.
//
// A test harness cannot measure this itself: a child forked from a large process inherits that
// process's peak, and exec keeps it. Descriptors are counted at the exit stop of ptrace, before
// the kernel closes them.
#include <dirent.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr rlim_t kDescriptorLimit = 64;

int CountDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

void RunChild(char** argv) {
  rlimit limit{kDescriptorLimit, kDescriptorLimit};
  setrlimit(RLIMIT_NOFILE, &limit);
  ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
  raise(SIGSTOP);  // lets the parent set its options before exec
  execv(argv[0], argv);
  _exit(127);
}

// Follows the child to its end; the signals it gets are passed on.
int Follow(pid_t child, int* open_at_exit, rusage* usage) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 127;
  ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
  int signal_to_pass = 0;
  for (;;) {
    ptrace(PTRACE_CONT, child, nullptr, signal_to_pass);
    if (wait4(child, &status, 0, usage) != child) return 127;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    signal_to_pass = 0;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      *open_at_exit = CountDescriptors(child);
    } else if (WSTOPSIG(status) != SIGTRAP) {
      signal_to_pass = WSTOPSIG(status);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measured_run RESULT_FILE PROGRAM [ARGS...]\n");
    return 127;
  }
  pid_t child = fork();
  if (child == 0) RunChild(argv + 2);
  if (child < 0) return 127;
  int open_at_exit = -1;
  rusage usage{};
  int code = Follow(child, &open_at_exit, &usage);
  if (std::FILE* result = std::fopen(argv[1], "w")) {
    std::fprintf(result, "%ld %d\n", usage.ru_maxrss, open_at_exit);
    std::fclose(result);
  }
  return code;
}
