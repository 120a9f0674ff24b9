#include "platform/NamedObjects.h"

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace corvale {
namespace {

// NAME_MAX of /dev/shm, less the "sem." that glibc puts before a semaphore's name.
constexpr size_t kMaxObjectName = 251;

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
  return !name.empty() && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Makes `dir` (mode 0700) when missing and checks that it is ours alone.
bool PrivateFolder(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
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
  full.append(NamedObjectTag()).append(name);
  if (full.size() - 1 > kMaxObjectName) return {};
  return full;
}

std::string NamedObjectFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    struct stat st {};
    if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
      std::string dir = std::string(runtime) + "/corvale";
      if (PrivateFolder(dir)) return dir;
    }
  }
  std::string dir = "/tmp/corvale-" + std::to_string(geteuid());
  if (PrivateFolder(dir)) return dir;
  return {};
}

std::string NamedMutexFile(std::string_view name) {
  if (!IsUsableName(name)) return {};
  std::string dir = NamedObjectFolder();
  if (dir.empty()) return {};
  return dir + "/" + NamedObjectTag() + std::string(name) + ".lock";
}

}  // namespace corvale
