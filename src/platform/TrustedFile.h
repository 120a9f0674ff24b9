#pragma once
// What the programs load or run from their own folder: the other programs, the usage library, the
// translations, FileFilter.xml, the help pages and the signature scripts. Running as root, a file
// there that another user could have written would hand that user root's rights (a library's
// constructor, a program) or let them choose what root reads. So, as root, only a regular file that
// belongs to root and that neither its group nor others may write is taken, and the check is made
// with fstat on the opened file, which is then used through its descriptor: nothing can be swapped
// in between the check and the use. Not as root, any regular file is taken.
//
// A refused file is logged with the reason; a missing one is not (a translation or the usage library
// that is not there is the usual case).

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// The rule above for an opened file's status: true when it may be used; else false with the reason
// in *why.
bool IsTrustedFileStatus(const struct stat& st, std::string* why);
// The same rule for a folder the programs read files from: as root it must belong to root and be
// writable by nobody else, or the files in it could be replaced between two reads.
bool IsTrustedFolderStatus(const struct stat& st, std::string* why);

// Opens `path` for reading (O_RDONLY plus `extraFlags`, always close-on-exec) and checks the opened
// file. -1 when it cannot be opened (errno set) or is refused (errno EPERM, the reason logged), with
// the reason in *why.
int OpenTrustedFile(const std::string& path, std::string* why, int extraFlags = 0);
// Opens the folder `path` and checks it; -1 as above.
int OpenTrustedFolder(const std::string& path, std::string* why);
// Opens `name` (one path component) in the opened folder `folder` and checks it; as root never
// through a link. -1 as above. `shownPath` names the file in the log.
int OpenTrustedFileAt(int folder, const std::string& name, const std::string& shownPath, std::string* why);

// For a file named by the environment that root reads and may replace (the settings file): true
// when nobody but root can change what root finds there: the path is absolute; the file, when it
// exists (or whatever stands in the way of its folders), is root's, not a link, and writable by
// nobody else; its folder (or, when that is still to be made, the nearest folder above that
// exists) and every folder above are closed to others, that folder even without the sticky bit,
// since another user could make the file before root does. Not as root, always true.
bool IsPathClosedToOthers(const std::string& path, std::string* why);

// dlopen of the library `path` after the check, through the opened descriptor. Null when missing,
// refused or not loadable, with the reason in *why.
void* LoadTrustedLibrary(const std::string& path, int dlopenFlags, std::string* why);

// Starts the program `path` after the check, from the opened descriptor, with `argv` (argv[0]
// first) and `env` (NAME=value entries). The child begins with default signal handling, an empty
// signal mask and no descriptors but 0, 1 and 2 of this process. With `detach` it runs in a session of
// its own and is not a child of this process (nobody waits for it). The process id (0 when detached),
// or -1 with the reason in *why when the program is missing, refused or cannot be run.
pid_t StartTrustedProgram(const std::string& path, const std::vector<std::string>& argv,
                          const std::vector<std::string>& env, bool detach, std::string* why);

// The search path of every program this process starts: fixed, never taken from whoever started a
// program that runs as root.
inline constexpr const char* kSafeSearchPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

}  // namespace platform
