#include "platform/NamedObjects.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace corvale {
namespace {

// NAME_MAX of /dev/shm.
constexpr size_t kMaxObjectName = 255;

bool IsPlainTag(std::string_view tag) {
  if (tag.empty() || tag.size() > 64) return false;
  for (char c : tag) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool IsUsableName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool Fail(std::string* problem, const std::string& text) {
  if (problem) *problem = text;
  return false;
}

// Makes `dir` (mode 0700) when missing and checks that it is a real folder of `uid` alone. lstat
// sees a link itself, so a link planted in place of the folder is refused, not followed.
bool PrivateFolder(const std::string& dir, unsigned uid, std::string* problem) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return Fail(problem, dir + " cannot be made: " + std::strerror(errno));
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0)
    return Fail(problem, dir + " cannot be examined: " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Fail(problem, dir + " is not a folder (a link or a file is in its place)");
  if (st.st_uid != uid)
    return Fail(problem, dir + " belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                             std::to_string(uid));
  if ((st.st_mode & 077) != 0) return Fail(problem, dir + " is open to other users");
  return true;
}

// True when only root (or nobody else than `uid`) can change what `dir` holds: a folder owned by
// root or `uid` that others cannot write, or can write only with the sticky bit (each may then
// remove only their own entries).
bool FolderClosedToOthers(const std::string& dir, unsigned uid) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != uid) return false;
  return (st.st_mode & 022) == 0 || (st.st_mode & S_ISVTX) != 0;
}

}  // namespace

std::string NamedObjectTag() {
  const char* tag = std::getenv("CORVALE_NAMESPACE");
  if (!tag || !IsPlainTag(tag)) return {};
  return std::string(tag) + ".";
}

std::string PosixObjectName(std::string_view name) {
  if (!IsUsableName(name)) return {};
  std::string full(1, '/');
  full.append(NamedObjectTag()).append(name).append(".").append(std::to_string(geteuid()));
  if (full.size() - 1 > kMaxObjectName) return {};
  return full;
}

bool PrivateObject(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string ChooseNamedObjectFolder(unsigned uid, const char* runtimeDir, const std::string& root,
                                    std::string* problem) {
  if (problem) problem->clear();
  if (uid == 0) {
    // Root's locks decide whether a second launcher or main program may start; a folder that any
    // user could make first (as under /tmp) would let that user switch the checks off.
    const std::string run = root + "/run";
    if (!FolderClosedToOthers(run, 0)) {
      Fail(problem, run + " is not a folder that only root can change");
      return {};
    }
    std::string dir = run + "/corvale";
    if (!PrivateFolder(dir, 0, problem)) return {};
    return dir;
  }
  if (runtimeDir && runtimeDir[0] == '/') {
    // The runtime folder is the user's own and closed to others by convention; one that is not
    // is not used.
    struct stat st {};
    if (stat(runtimeDir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 077) == 0) {
      std::string dir = std::string(runtimeDir) + "/corvale";
      if (!PrivateFolder(dir, uid, problem)) return {};
      return dir;
    }
  }
  std::string dir = root + "/tmp/corvale-" + std::to_string(uid);
  if (!PrivateFolder(dir, uid, problem)) return {};
  return dir;
}

std::string NamedObjectFolder(std::string* problem) {
  return ChooseNamedObjectFolder(geteuid(), std::getenv("XDG_RUNTIME_DIR"), "", problem);
}

std::string UnusableLockFolderText() {
  std::string problem;
  if (!NamedObjectFolder(&problem).empty()) return {};
  return "The folder of Corvale's locks cannot be used: " + problem + ".";
}

std::string NamedMutexFile(std::string_view name) {
  if (!IsUsableName(name)) return {};
  std::string dir = NamedObjectFolder();
  if (dir.empty()) return {};
  return dir + "/" + NamedObjectTag() + std::string(name) + ".lock";
}

}  // namespace corvale
