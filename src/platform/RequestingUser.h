#pragma once
// The person a run works for. The program runs as root to read disks, but what it makes (recovered
// files, disk images, exports) and what it shows on the desktop (a previewed document, the help, a
// folder) belong to the person who asked for the run: the user who started it through pkexec
// (PKEXEC_UID) or sudo (SUDO_UID, SUDO_GID), which the launcher passes on. Without raised rights the
// person is simply the one running the program.
//
// Ids from the environment are taken only as plain decimal numbers of an account that exists, and
// never for root itself: a SUDO_UID of 0 names nobody but root, which is no one to hand things to.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

struct RequestingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;  // the account's login name
  std::string home;  // its home folder, from the account database
};

// True when the process runs with root's rights (effective uid 0).
bool RunningAsRoot();

// The person the run works for, read from the environment of this process. As root: PKEXEC_UID,
// else SUDO_UID (its group from SUDO_GID, else the account's primary group), when it names an
// existing account other than root; nothing otherwise. Not as root: the real user.
std::optional<RequestingUser> FindRequestingUser();

// True when the person the run works for could read the file described by `st` themselves, by its
// owner, group and other permission bits (the person's groups from the group database). Always true
// without raised rights or without a known person: then the person is the one running the program.
// Root reads nothing for a person, out of a place the person named, that the person could not read.
bool RequestingUserMayRead(const struct stat& st);

// A user id written as a plain decimal number below 2^32 - 1 ("1000"); nothing for anything else
// (empty, signs, spaces, trailing text, out of range).
std::optional<unsigned> ParseUserId(const char* text);

}  // namespace platform
