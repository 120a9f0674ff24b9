#include "platform/TrustedFile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/ChildStart.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"

extern char** environ;

namespace platform {
namespace {

std::string ModeText(mode_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool Refuse(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// Checks the opened `fd` with `check`; closes it and logs the reason when it is refused.
int CheckOpened(int fd, const std::string& shownPath, bool (*check)(const struct stat&, std::string*),
                std::string* why) {
  if (fd < 0) {
    const int error = errno;
    if (why) *why = std::strerror(error);
    errno = error;
    return -1;
  }
  struct stat st {};
  std::string reason;
  if (::fstat(fd, &st) != 0) {
    reason = std::strerror(errno);
  } else if (check(st, &reason)) {
    return fd;
  }
  ::close(fd);
  LogError("%s is not used: %s", shownPath.c_str(), reason.c_str());
  if (why) *why = reason;
  errno = EPERM;
  return -1;
}

}  // namespace

bool IsTrustedFileStatus(const struct stat& st, std::string* why) {
  if (!S_ISREG(st.st_mode)) return Refuse(why, "it is not a regular file");
  if (::geteuid() != 0) return true;
  if (st.st_uid != 0) return Refuse(why, "it belongs to user " + std::to_string(st.st_uid) + ", not to root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Refuse(why, "its group or other users may write it (mode " + ModeText(st.st_mode) + ")");
  return true;
}

bool IsTrustedFolderStatus(const struct stat& st, std::string* why) {
  if (!S_ISDIR(st.st_mode)) return Refuse(why, "it is not a folder");
  if (::geteuid() != 0) return true;
  if (st.st_uid != 0) return Refuse(why, "it belongs to user " + std::to_string(st.st_uid) + ", not to root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Refuse(why, "its group or other users may write it (mode " + ModeText(st.st_mode) + ")");
  return true;
}

int OpenTrustedFile(const std::string& path, std::string* why, int extraFlags) {
  // O_NONBLOCK: a FIFO put in a file's place must not stop the program in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags);
  return CheckOpened(fd, path, IsTrustedFileStatus, why);
}

int OpenTrustedFolder(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return CheckOpened(fd, path, IsTrustedFolderStatus, why);
}

int OpenTrustedFileAt(int folder, const std::string& name, const std::string& shownPath, std::string* why) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    if (why) *why = "not a plain file name";
    errno = EINVAL;
    return -1;
  }
  const int noFollow = ::geteuid() == 0 ? O_NOFOLLOW : 0;
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
  if (fd < 0 && noFollow != 0 && errno == ELOOP) {
    LogError("%s is not used: it is a link", shownPath.c_str());
    if (why) *why = "it is a link";
    errno = EPERM;
    return -1;
  }
  return CheckOpened(fd, shownPath, IsTrustedFileStatus, why);
}

bool IsPathClosedToOthers(const std::string& path, std::string* why) {
  if (::geteuid() != 0) return true;
  if (path.empty() || path[0] != '/') return Refuse(why, "it is not an absolute path");
  if (path.back() == '/') return Refuse(why, "it names a folder");
  const auto parentOf = [](const std::string& p) {
    const std::string parent = p.substr(0, p.find_last_of('/'));
    return parent.empty() ? std::string("/") : parent;
  };
  // The nearest entry on the way that exists: what is missing below it, root would make.
  std::string at = path;
  struct stat st {};
  while (::lstat(at.c_str(), &st) != 0) {
    if ((errno != ENOENT && errno != ENOTDIR) || at == "/") return Refuse(why, at + " cannot be examined");
    at = parentOf(at);
  }
  std::string folder = at;
  if (at == path || !S_ISDIR(st.st_mode)) {
    // The file itself, or something in the way of its folders: whatever it is (a folder where the
    // file should be only fails to read), it must be root's and closed, and so its folder.
    if (S_ISLNK(st.st_mode)) return Refuse(why, at == path ? "it is a link" : at + " is a link");
    if (st.st_uid != 0)
      return Refuse(why, (at == path ? "it" : at) + " belongs to user " + std::to_string(st.st_uid));
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
      return Refuse(why, (at == path ? "its" : at + "'s") + " group or other users may write it (mode " +
                             ModeText(st.st_mode) + ")");
    folder = parentOf(at);
    if (::lstat(folder.c_str(), &st) != 0) return Refuse(why, folder + " cannot be examined");
  }
  std::string problem;
  if (!IsFolderClosedToOthers(folder, &problem)) return Refuse(why, problem);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Refuse(why, folder + " may be written by other users (mode " + ModeText(st.st_mode) + ")");
  return true;
}

void* LoadTrustedLibrary(const std::string& path, int dlopenFlags, std::string* why) {
  const int fd = OpenTrustedFile(path, why);
  if (fd < 0) return nullptr;
  // The loader opens the descriptor's own file again through /proc, so the file checked is the file
  // loaded whatever happens to the name meanwhile.
  const std::string byDescriptor = "/proc/self/fd/" + std::to_string(fd);
  void* handle = ::dlopen(byDescriptor.c_str(), dlopenFlags);
  if (!handle && why) {
    const char* error = ::dlerror();
    *why = error ? error : "it cannot be loaded";
  }
  ::close(fd);
  return handle;
}

pid_t StartTrustedProgram(const std::string& path, const std::vector<std::string>& argv,
                          const std::vector<std::string>& env, bool detach, std::string* why) {
  const int program = OpenTrustedFile(path, why);
  if (program < 0) return -1;
  // Everything the child uses is made before the fork: after it, in a process that may have other
  // threads, only async-signal-safe calls are allowed.
  std::vector<std::string> args = argv;
  if (args.empty()) args.push_back(path);
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<std::string> envCopy = env;
  std::vector<char*> envp;
  for (std::string& e : envCopy) envp.push_back(e.data());
  envp.push_back(nullptr);
  const int highestDescriptor = HighestDescriptor();

  ChildReport report;
  if (!report.Open()) {
    if (why) *why = std::strerror(errno);
    ::close(program);
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (detach) {
      const pid_t grandchild = ::fork();
      if (grandchild != 0) {
        if (grandchild < 0) report.Fail(ChildStage::kFork, errno);
        ::_exit(0);
      }
      ::setsid();
    }
    ResetSignalsInChild();
    MarkDescriptorsCloseOnExec(highestDescriptor);
    ::fexecve(program, argp.data(), envp.data());
    if (errno == ENOENT) {
      // A script: its interpreter reads it through /dev/fd, which a close-on-exec descriptor would
      // no longer be by then. The copy of the descriptor stays open for it.
      const int copy = ::dup(program);
      if (copy >= 0) ::fexecve(copy, argp.data(), envp.data());
    }
    report.Fail(ChildStage::kExec, errno);
    ::_exit(127);
  }
  ::close(program);
  report.CloseWriteEnd();
  if (pid < 0) {
    if (why) *why = std::strerror(errno);
    return -1;
  }
  if (detach) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::string failure;
  if (!report.Read(&failure)) {
    if (why) *why = failure;
    if (!detach) {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    LogError("%s cannot be started: %s", path.c_str(), failure.c_str());
    return -1;
  }
  return detach ? 0 : pid;
}

}  // namespace platform
