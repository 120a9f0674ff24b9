#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/TrustedFile.h"

namespace platform {
namespace {

constexpr const char* kDefaultRegistryFile = "/etc/corvale/registry.ini";

std::string ParentFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p with `mode` for every folder it makes.
bool MakeFolders(const std::string& folder, mode_t mode, int* error) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = ENOTDIR;
    return false;
  }
  std::string parent = ParentFolder(folder);
  if (parent != folder && !MakeFolders(parent, mode, error)) return false;
  if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) {
    *error = errno;
    return false;
  }
  return true;
}

void SetError(int* error, int value) {
  if (error) *error = value;
}

}  // namespace

std::string RegistryFilePath() {
  const char* env = std::getenv("CORVALE_REGISTRY");
  if (env && *env) {
    // With root's rights the settings choose the update address, and a change of language replaces
    // the file: a file or folder another user may change is not taken (the variable reaches root
    // only through sudo -E or an env_keep, but then it is whatever the user set).
    std::string why;
    if (IsPathClosedToOthers(env, &why)) return env;
    static std::mutex mutex;
    static std::string* told = new std::string;
    std::lock_guard<std::mutex> lock(mutex);
    if (*told != env) {
      *told = env;
      LogError("CORVALE_REGISTRY %s is not used with root's rights: %s; %s is used", env, why.c_str(),
               kDefaultRegistryFile);
    }
  }
  return kDefaultRegistryFile;
}

RegistryStatus RegistryGetString(std::string_view key, std::string_view value, std::string* out, int* error) {
  SetError(error, 0);
  corvale::IniFile file;
  int err = 0;
  switch (file.Load(RegistryFilePath(), &err)) {
    case corvale::IniFile::LoadResult::Ok:
      break;
    case corvale::IniFile::LoadResult::Missing:
      SetError(error, err);
      return RegistryStatus::KeyMissing;
    case corvale::IniFile::LoadResult::Unreadable:
    case corvale::IniFile::LoadResult::TooLarge:
      SetError(error, err);
      return RegistryStatus::Unreadable;
  }
  if (!file.HasSection(key)) return RegistryStatus::KeyMissing;
  std::optional<std::string> data = file.Get(key, value);
  if (!data) return RegistryStatus::ValueMissing;
  if (out) *out = std::move(*data);
  return RegistryStatus::Ok;
}

RegistryStatus RegistrySetString(std::string_view key, std::string_view value, std::string_view data,
                                 int* error) {
  SetError(error, 0);
  if (!corvale::IniFile::CanHold(key, value, data)) {
    SetError(error, EINVAL);
    return RegistryStatus::InvalidName;
  }
  const std::string path = RegistryFilePath();
  int err = 0;
  if (!MakeFolders(ParentFolder(path), 0755, &err)) {
    SetError(error, err);
    return RegistryStatus::WriteFailed;
  }
  // The lock is taken on the folder, not the file: the file is replaced by a rename, and a lock on
  // the replaced file would protect nothing.
  int folder = ::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    SetError(error, errno);
    return RegistryStatus::WriteFailed;
  }
  while (::flock(folder, LOCK_EX) != 0 && errno == EINTR) {
  }

  RegistryStatus status = RegistryStatus::Ok;
  corvale::IniFile file;
  corvale::IniFile::LoadResult loaded = file.Load(path, &err);
  if (loaded == corvale::IniFile::LoadResult::Unreadable ||
      loaded == corvale::IniFile::LoadResult::TooLarge) {
    // Rewriting a file we could not read would throw its other values away.
    status = RegistryStatus::WriteFailed;
  } else if (!file.Set(key, value, data)) {
    status = RegistryStatus::InvalidName;  // not reached: checked above
    err = EINVAL;
  } else if (!file.Save(path, 0644, &err)) {
    status = RegistryStatus::WriteFailed;
  } else {
    err = 0;
  }
  ::close(folder);  // releases the lock
  SetError(error, err);
  return status;
}

const char* RegistryStatusText(RegistryStatus status) {
  switch (status) {
    case RegistryStatus::Ok:
      return "ok";
    case RegistryStatus::KeyMissing:
      return "key missing";
    case RegistryStatus::ValueMissing:
      return "value missing";
    case RegistryStatus::Unreadable:
      return "unreadable";
    case RegistryStatus::InvalidName:
      return "invalid name";
    case RegistryStatus::WriteFailed:
      return "write failed";
  }
  return "unknown";
}

}  // namespace platform
