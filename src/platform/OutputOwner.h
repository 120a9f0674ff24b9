#pragma once
// Who gets what the program makes for a person (recovered files and folders, disk images, result
// bundles), and with which modes. The program runs as root, and these files hold a person's data:
// they belong to the person who asked for them and are private to that person.
//
// In a folder that a user owns, what is made belongs to that user. In a folder of root's (a shared
// place such as /tmp or /srv), and in a folder the program made itself, it belongs to the person
// the run works for (FindRequestingUser: who started it through pkexec or sudo), else to root.
//
// Files get 0600 and folders 0700. Only a folder that its owner shares with a group passes its
// group bits on (files without execute), and its group: one that is group-writable (and not
// writable by everybody, as /tmp is) or set-gid, the marks of a team's folder. A folder that is
// merely readable by its group (0755, 0750) is not a shared one: where all users share one group,
// passing its bits on would let every user read another's recovered files. Bits for others are
// never passed on.

#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

struct OutputOwner {
  bool give = false;  // change the owner of what is made (only root can)
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t fileMode = 0600;
  mode_t folderMode = 0700;
  mode_t umask = 0777;

  // For what is made inside the existing folder described by `folder` (its fstat).
  static OutputOwner ForFolder(const struct stat& folder);
  // For a folder the program makes where none was (and what goes into it).
  static OutputOwner ForFolderMadeHere();

  // Gives a file or folder just made through `fd` to its owner, with its mode. 0, or the errno.
  int Apply(int fd, bool folder) const;

 private:
  void Set(uid_t u, gid_t g);
};

// The umask of the process, read without changing it; all bits when it cannot be read, so that
// every mode is then set explicitly.
mode_t CurrentUmask();

}  // namespace platform
