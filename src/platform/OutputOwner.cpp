#include "platform/OutputOwner.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "platform/RequestingUser.h"

namespace platform {

mode_t CurrentUmask() {
  FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return 0777;
  mode_t mask = 0777;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value & 0777);
      break;
    }
  }
  std::fclose(status);
  return mask;
}

OutputOwner OutputOwner::ForFolder(const struct stat& folder) {
  OutputOwner owner;
  const mode_t mode = folder.st_mode;
  const bool shared = (mode & S_ISGID) != 0 || ((mode & S_IWGRP) != 0 && (mode & S_IWOTH) == 0);
  if (shared) {
    owner.fileMode = 0600 | (mode & 0060);
    // A set-gid folder's new folders keep the mark, so that they stay the team's too.
    owner.folderMode = 0700 | (mode & 0070) | (mode & S_ISGID);
  }
  uid_t uid = folder.st_uid;
  gid_t gid = folder.st_gid;
  if (uid == 0) {
    if (const std::optional<RequestingUser> person = FindRequestingUser(); person && ::geteuid() == 0) {
      uid = person->uid;
      if (!shared) gid = person->gid;
    }
  }
  owner.Set(uid, gid);
  return owner;
}

OutputOwner OutputOwner::ForFolderMadeHere() {
  OutputOwner owner;
  const std::optional<RequestingUser> person = ::geteuid() == 0 ? FindRequestingUser() : std::nullopt;
  if (person) {
    owner.Set(person->uid, person->gid);
  } else {
    owner.Set(::geteuid(), ::getegid());
  }
  return owner;
}

void OutputOwner::Set(uid_t u, gid_t g) {
  uid = u;
  gid = g;
  umask = CurrentUmask();
  give = ::geteuid() == 0 && (u != ::geteuid() || g != ::getegid());
}

int OutputOwner::Apply(int fd, bool folder) const {
  if (give && ::fchown(fd, uid, gid) != 0) return errno;
  const mode_t mode = folder ? folderMode : fileMode;
  // The mode given at creation is cut by the umask, and a change of owner clears a set-gid bit:
  // only then does it need setting again.
  if (((mode & umask) != 0 || (give && (mode & S_ISGID) != 0)) && ::fchmod(fd, mode) != 0) return errno;
  return 0;
}

}  // namespace platform
