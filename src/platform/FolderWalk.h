#pragma once
// Opening the folders the program writes into. It runs as root and writes into folders that users
// own and may change while it works: a path string handed to open() is followed through every
// link on its way, so a user who plants "H/out -> /etc" would have root write into /etc.
//
// So a folder is opened once, one name at a time from "/" (or from the current folder for a
// relative path), never following a link the kernel would follow by itself. A link on the way is
// followed by hand only when root, the effective user or the person the run works for owns it (the
// rule of the kernel's protected-symlinks setting, for every folder); a link of anybody else stops
// the walk, and the caller refuses the folder, saying which link it was. Everything is then made
// relative to the descriptor of the folder reached, with O_NOFOLLOW and O_EXCL.

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A descriptor owned by the holder, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd = -1);

 private:
  int m_fd = -1;
};

// True when a link owned by `owner` may be followed on the way to a folder the program writes
// into: root's, the effective user's, or the person's the run works for (FindRequestingUser).
bool IsTrustedLinkOwner(uid_t owner);

// What WalkToFolder does with a name of the path that does not exist.
enum class MissingFolders {
  kFail,  // the walk fails with ENOENT
  kStop,  // the walk ends at the last folder that exists; the names left are in `missing`
  kMake,  // the folder is made (with the mode given) and the walk goes on in it
};

struct FolderWalk {
  UniqueFd fd;                       // the folder reached; -1 when the walk failed
  std::vector<std::string> missing;  // kStop: the names below `fd` that do not exist yet, in order
  bool made = false;                 // kMake: at least one folder was made
  int error = 0;                     // errno of the failure
  std::string refusedLink;           // the link not followed, as the path walked to it
  uid_t refusedLinkOwner = 0;

  std::string failedAt;  // the path where the walk failed

  bool ok() const { return fd.Get() >= 0; }
  bool RefusedALink() const { return !refusedLink.empty(); }
  // Why the walk failed, for the log: the link refused, or the error and where it happened.
  std::string Describe() const;
};

// Opens folder `path` as described above. Folders made under kMake get `folderMode` (less the
// umask) and are handed to `made` (its descriptor and path) right after they are made, so that the
// caller can give them to their owner; a folder made here is never reached through a link.
FolderWalk WalkToFolder(const std::string& path, MissingFolders missing, mode_t folderMode = 0700,
                        const std::function<void(int fd, const std::string& path)>& made = {});

// The folder that holds file `path` (which need not exist), opened by WalkToFolder without making
// anything, and the file's name in it (in *name; empty for a path that ends in '/').
FolderWalk WalkToFolderOf(const std::string& path, std::string* name);

// Creates `name` in `folder` only when nothing of that name is there, a link (even one pointing
// nowhere) included: O_CREAT | O_EXCL | O_NOFOLLOW with `flags` (the access mode) and `mode`.
// The descriptor, or -1 with errno set.
int CreateFileIn(int folder, const std::string& name, int flags, mode_t mode);

// Removes `name` from `folder` when it is anything but a folder, a link as itself (never what it
// points to). True when nothing of that name is left; false with errno set otherwise (EISDIR for a
// folder).
bool RemoveEntryIn(int folder, const std::string& name);

// True when `folder` holds an entry `name` of any kind, a dangling link included.
bool EntryExistsIn(int folder, const std::string& name);

// Writes `data` as file `name` of `folder` through a temporary file of its own in that folder and
// a rename over the name, so that whatever stood under the name (a link included) is replaced and
// never written through. The new file gets `mode` and, when `uid` is not -1, that owner and group.
// False with errno set when it could not be written; nothing is left of the temporary file then.
bool ReplaceFileIn(int folder, const std::string& name, const std::string& data, mode_t mode,
                   uid_t uid = static_cast<uid_t>(-1), gid_t gid = static_cast<gid_t>(-1));

}  // namespace platform
