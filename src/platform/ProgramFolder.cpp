#include "platform/ProgramFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/IniFile.h"

namespace platform {
namespace {

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

// Makes every missing folder of `path` with mode 0700, as the state-folder convention asks of the
// folders it creates.
bool MakePrivateFolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakePrivateFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool IsWritableFolder(const std::string& folder) {
  struct stat st {};
  return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string ExecutableDirectory() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string path(self, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::string RootStateFolder() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(0, &pw, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
      found->pw_dir[0] != '/')
    return {};
  std::string home = found->pw_dir;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return WithSlash(home == "/" ? std::string() : home) + ".local/state/corvale/";
}

std::string ChooseProgramFolder(const std::string& executableDir) {
  if (::geteuid() == 0) {
    // Root writes only where nobody else can put a link or a file of their own: the executable's
    // folder when it is closed to others, else root's own state folder. The environment (HOME,
    // XDG_STATE_HOME) is whoever started the program, and is not asked.
    if (IsWritableFolder(executableDir) && IsFolderClosedToOthers(executableDir, nullptr))
      return WithSlash(executableDir);
    const std::string folder = RootStateFolder();
    if (folder.empty() || !MakePrivateFolders(folder.substr(0, folder.size() - 1)) ||
        !IsFolderClosedToOthers(folder, nullptr))
      return {};
    return folder;
  }
  if (IsWritableFolder(executableDir)) return WithSlash(executableDir);
  std::string state;
  // A relative XDG_STATE_HOME is to be ignored, as the base-directory convention says.
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') {
    state = xdg;
  } else {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    state = WithSlash(home) + ".local/state";
  }
  while (state.size() > 1 && state.back() == '/') state.pop_back();
  std::string folder = state + "/corvale";
  if (!MakePrivateFolders(folder)) return {};
  return WithSlash(folder);
}

std::string ProgramFolder() {
  static std::once_flag once;
  static std::string* folder = nullptr;
  std::call_once(once, [] { folder = new std::string(ChooseProgramFolder(ExecutableDirectory())); });
  return *folder;
}

bool IsFolderClosedToOthers(const std::string& dir, std::string* problem) {
  auto fail = [&](const std::string& text) {
    if (problem) *problem = text;
    return false;
  };
  if (dir.empty() || dir[0] != '/') return fail("\"" + dir + "\" is not an absolute folder");
  std::string at = dir;
  while (at.size() > 1 && at.back() == '/') at.pop_back();
  for (;;) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0) return fail(at + " cannot be examined");
    if (!S_ISDIR(st.st_mode)) return fail(at + " is not a folder");
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
      return fail(at + " belongs to user " + std::to_string(st.st_uid));
    if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0)
      return fail(at + " can be written by other users");
    if (at == "/") return true;
    size_t slash = at.find_last_of('/');
    at = slash == 0 ? "/" : at.substr(0, slash);
  }
}

std::string UntrustedExecutableFolderText() {
  if (::geteuid() != 0) return {};
  std::string problem;
  if (IsFolderClosedToOthers(ExecutableDirectory(), &problem)) return {};
  return "Corvale does not run as root from a folder that other users can change: " + problem + ".";
}

int OpenPrivateFile(const std::string& path, int flags) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  // A second name (a hard link made by somebody else) or another owner would mean writing into a
  // file that is not the program's own.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
      ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

uint64_t ReadSearchStartSectorFrom(const std::string& path) {
  corvale::IniFile file;
  if (file.Load(path) != corvale::IniFile::LoadResult::Ok) return 0;
  std::optional<std::string> text = file.Get("main", "pos");
  if (!text || text->empty()) return 0;
  size_t i = (*text)[0] == '+' ? 1 : 0;
  if (i == text->size()) return 0;
  uint64_t value = 0;
  for (; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c < '0' || c > '9') return 0;
    unsigned digit = static_cast<unsigned>(c - '0');
    // The engine keeps sectors as signed 64-bit numbers in places: stay below 2^63.
    if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

uint64_t ReadSearchStartSector() {
  std::string folder = ProgramFolder();
  if (folder.empty()) return 0;
  return ReadSearchStartSectorFrom(folder + "config.ini");
}

}  // namespace platform
