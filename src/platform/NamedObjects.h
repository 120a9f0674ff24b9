#pragma once
// Where the named objects that the two programs share live: the single-instance and loader mutexes,
// the crash events and the shared log buffer with its mutex. Both programs compute the same places
// from the same names, so the launcher and the main program meet without passing anything.
//
// Mutexes are lock files in a private folder; events and the log buffer are POSIX shared-memory
// objects under "/" + name + "." + effective uid, so that the objects of two users never share a
// name. CORVALE_NAMESPACE (letters, digits, '.', '_' and '-' only) puts a tag in front of every
// name, so that test runs started side by side never see each other's objects; unset, the names
// are the programs' own.
//
// Names are guessable, so another user may make an object of our name first. Objects are created
// exclusively, and an existing one is used only when it belongs to the effective user and is closed
// to everybody else (PrivateObject).

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace corvale {

// The tag of CORVALE_NAMESPACE followed by '.', or empty when it is unset or not a plain tag.
std::string NamedObjectTag();

// The name to hand to shm_open for object `name`, or empty when `name` cannot be one (empty, too
// long, or holding a '/').
std::string PosixObjectName(std::string_view name);

// True when the object behind `st` is a regular file of the effective user with no permission for
// its group or anybody else.
bool PrivateObject(const struct stat& st);

// The folder of the lock files, created with mode 0700 when missing:
// - for root /run/corvale, which must be a real folder owned by root, closed to everybody else, in
//   a /run that only root can write;
// - for any other user $XDG_RUNTIME_DIR/corvale when XDG_RUNTIME_DIR names a folder of that user
//   closed to others, else /tmp/corvale-<uid>; the folder must be the user's own and closed to
//   everybody else.
// Empty when the folder is unusable (another owner, open to others, a link instead of a folder, or
// it cannot be made), with the reason in *problem, so that nobody can plant a lock file or a link
// in it or take the program's locks first.
std::string NamedObjectFolder(std::string* problem = nullptr);
// The same choice for the given effective uid and runtime folder (null: none), under `root` (""
// for the real file system, else a test's stand-in for "/").
std::string ChooseNamedObjectFolder(unsigned uid, const char* runtimeDir, const std::string& root,
                                    std::string* problem);

// Empty while the lock folder is usable, else the text that tells the user why the program cannot
// start: the folder and what is wrong with it.
std::string UnusableLockFolderText();

// The lock file of mutex `name`, or empty when there is no usable folder or the name is not usable.
std::string NamedMutexFile(std::string_view name);

}  // namespace corvale
