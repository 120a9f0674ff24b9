#include "platform/RequestingUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace platform {

bool RunningAsRoot() { return ::geteuid() == 0; }

std::optional<unsigned> ParseUserId(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  // (uid_t)-1 means "no change" to chown and is nobody's id.
  if (errno != 0 || *end != 0 || value >= UINT32_MAX) return std::nullopt;
  return static_cast<unsigned>(value);
}

namespace {

// The account of `uid`, or nothing when the account database has none.
std::optional<RequestingUser> Account(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  RequestingUser user;
  user.uid = found->pw_uid;
  user.gid = found->pw_gid;
  user.name = found->pw_name != nullptr ? found->pw_name : "";
  user.home = found->pw_dir != nullptr ? found->pw_dir : "";
  return user;
}

}  // namespace

std::optional<RequestingUser> FindRequestingUser() {
  if (!RunningAsRoot()) return Account(::getuid());
  std::optional<unsigned> uid = ParseUserId(std::getenv("PKEXEC_UID"));
  const bool fromSudo = !uid;
  if (fromSudo) uid = ParseUserId(std::getenv("SUDO_UID"));
  if (!uid || *uid == 0) return std::nullopt;
  std::optional<RequestingUser> user = Account(static_cast<uid_t>(*uid));
  if (!user) return std::nullopt;
  if (fromSudo) {
    if (const std::optional<unsigned> gid = ParseUserId(std::getenv("SUDO_GID")); gid && *gid != 0) {
      user->gid = static_cast<gid_t>(*gid);
    }
  }
  return user;
}

bool RequestingUserMayRead(const struct stat& st) {
  if (!RunningAsRoot()) return true;
  const std::optional<RequestingUser> person = FindRequestingUser();
  if (!person) return true;
  if (st.st_uid == person->uid) return (st.st_mode & S_IRUSR) != 0;
  bool inGroup = st.st_gid == person->gid;
  if (!inGroup) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(person->name.c_str(), person->gid, groups.data(), &count) < 0 && count > 64) {
      groups.resize(static_cast<size_t>(count));
      if (::getgrouplist(person->name.c_str(), person->gid, groups.data(), &count) < 0) count = 0;
    }
    for (int i = 0; i < count && !inGroup; ++i) inGroup = groups[static_cast<size_t>(i)] == st.st_gid;
  }
  return (st.st_mode & (inGroup ? S_IRGRP : S_IROTH)) != 0;
}

}  // namespace platform
