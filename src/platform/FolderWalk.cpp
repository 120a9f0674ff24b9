#include "platform/FolderWalk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <random>

#include "platform/RequestingUser.h"

namespace platform {
namespace {

// Links followed on one walk before it gives up, as the kernel's own limit for a path.
constexpr int kMaxLinks = 40;
// Times a name that was just found missing is looked at again when making it finds it made.
constexpr int kMaxMakeRaces = 8;

int OpenAt(int at, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(at, name, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int OpenFolderAt(int at, const char* name) { return OpenAt(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW); }

// The names of `path` in order, without empty names and ".".
std::deque<std::string> SplitPath(const std::string& path) {
  std::deque<std::string> names;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(begin, end - begin);
    if (!name.empty() && name != ".") names.push_back(std::move(name));
    begin = end + 1;
  }
  return names;
}

std::string Joined(const std::string& walked, const std::string& name) {
  if (walked.empty() || walked == "/") return walked + name;
  return walked + "/" + name;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

bool IsTrustedLinkOwner(uid_t owner) {
  if (owner == 0 || owner == ::geteuid()) return true;
  const std::optional<RequestingUser> person = FindRequestingUser();
  return person && person->uid == owner;
}

std::string FolderWalk::Describe() const {
  if (RefusedALink())
    return refusedLink + " is a link of user " + std::to_string(refusedLinkOwner) +
           ", which is not followed: only links of root and of the user who asked are";
  return failedAt + ": " + std::strerror(error != 0 ? error : EINVAL);
}

FolderWalk WalkToFolder(const std::string& path, MissingFolders missing, mode_t folderMode,
                        const std::function<void(int fd, const std::string& path)>& made) {
  FolderWalk walk;
  auto fail = [&](int error, const std::string& at) {
    walk.fd.Reset();
    walk.error = error;
    walk.failedAt = at;
    return std::move(walk);
  };
  if (path.empty()) return fail(ENOENT, path);
  const bool absolute = path[0] == '/';
  std::string walked = absolute ? "/" : ".";
  UniqueFd at(OpenAt(AT_FDCWD, absolute ? "/" : ".", O_RDONLY | O_DIRECTORY));
  if (at.Get() < 0) return fail(errno, walked);
  std::deque<std::string> names = SplitPath(path);
  int links = 0;
  int races = 0;
  while (!names.empty()) {
    const std::string name = names.front();
    names.pop_front();
    const std::string here = Joined(walked, name);
    int fd = OpenFolderAt(at.Get(), name.c_str());
    if (fd >= 0) {
      at.Reset(fd);
      walked = here;
      continue;
    }
    const int error = errno;
    if (error == ENOENT) {
      if (missing == MissingFolders::kFail) return fail(ENOENT, here);
      if (missing == MissingFolders::kStop) {
        walk.missing.assign(1, name);
        walk.missing.insert(walk.missing.end(), names.begin(), names.end());
        walk.fd = std::move(at);
        return walk;
      }
      if (::mkdirat(at.Get(), name.c_str(), folderMode) != 0) {
        // Made by somebody else meanwhile: look at it again, as one that was there.
        if (errno == EEXIST && ++races <= kMaxMakeRaces) {
          names.push_front(name);
          continue;
        }
        return fail(errno, here);
      }
      // A folder made here is never reached through anything but itself.
      fd = OpenFolderAt(at.Get(), name.c_str());
      if (fd < 0) return fail(errno, here);
      walk.made = true;
      if (made) made(fd, here);
      at.Reset(fd);
      walked = here;
      continue;
    }
    if (error != ELOOP && error != ENOTDIR) return fail(error, here);
    // The name is something other than a folder: a link is followed by hand, when its owner may be
    // trusted; the link itself is opened, so its owner and its text are those of one and the same
    // link.
    UniqueFd link(OpenAt(at.Get(), name.c_str(), O_PATH | O_NOFOLLOW));
    struct stat st {};
    if (link.Get() < 0 || ::fstat(link.Get(), &st) != 0) return fail(errno, here);
    if (!S_ISLNK(st.st_mode)) return fail(ENOTDIR, here);
    if (!IsTrustedLinkOwner(st.st_uid)) {
      walk.refusedLink = here;
      walk.refusedLinkOwner = st.st_uid;
      return fail(EACCES, here);
    }
    if (++links > kMaxLinks) return fail(ELOOP, here);
    std::string target(static_cast<size_t>(st.st_size > 0 && st.st_size < 65536 ? st.st_size + 1 : 4096),
                       '\0');
    const ssize_t n = ::readlinkat(link.Get(), "", target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return fail(n < 0 ? errno : ENOENT, here);
    target.resize(static_cast<size_t>(n));
    std::deque<std::string> inside = SplitPath(target);
    names.insert(names.begin(), inside.begin(), inside.end());
    if (target[0] == '/') {
      at.Reset(OpenAt(AT_FDCWD, "/", O_RDONLY | O_DIRECTORY));
      if (at.Get() < 0) return fail(errno, "/");
      walked = "/";
    }
  }
  walk.fd = std::move(at);
  return walk;
}

FolderWalk WalkToFolderOf(const std::string& path, std::string* name) {
  const size_t slash = path.rfind('/');
  if (name) *name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return WalkToFolder(folder, MissingFolders::kFail);
}

int CreateFileIn(int folder, const std::string& name, int flags, mode_t mode) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  return OpenAt(folder, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
}

bool RemoveEntryIn(int folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT) return true;
  return false;
}

bool EntryExistsIn(int folder, const std::string& name) {
  struct stat st {};
  return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ReplaceFileIn(int folder, const std::string& name, const std::string& data, mode_t mode, uid_t uid,
                   gid_t gid) {
  if (name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  std::random_device random;
  std::string temporary;
  int fd = -1;
  // A name of our own beside the file; one that is taken is tried again with another.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    temporary = "." + name + ".new-" + suffix;
    fd = CreateFileIn(folder, temporary, O_WRONLY, 0600);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < data.size()) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      ok = false;
      break;
    }
    done += static_cast<size_t>(put);
  }
  if (ok && uid != static_cast<uid_t>(-1) && ::fchown(fd, uid, gid) != 0) ok = false;
  if (ok && ::fchmod(fd, mode) != 0) ok = false;
  if (ok && ::fsync(fd) != 0) ok = false;
  const int saved = errno;
  ::close(fd);
  if (ok && ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0) {
    ::fsync(folder);
    return true;
  }
  const int error = ok ? errno : saved;
  ::unlinkat(folder, temporary.c_str(), 0);
  errno = error;
  return false;
}

}  // namespace platform
