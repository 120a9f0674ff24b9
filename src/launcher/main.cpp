// The launcher QBX. Until the launcher's own steps exist it starts the main program beside it and
// hands back its exit status.
#include <cstdio>
#include <string>

#include <sys/wait.h>
#include <unistd.h>
#include <limits.h>

int main() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  std::string dir(self);
  dir = dir.substr(0, dir.rfind('/') + 1);
  std::string program = dir + "corvale";
  pid_t pid = fork();
  if (pid == 0) {
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    std::perror("QBX: cannot start corvale");
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
