#include "platform/RequestingUser.h"

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

}  // namespace platform
