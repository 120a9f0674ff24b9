#pragma once
// The two folders the program knows itself by:
// - the executable's folder, where files shipped beside the program are found (update.ini,
//   FileFilter.xml, CustomFileScript);
// - the program folder, where the program writes its log, scan-state files and config.ini: the
//   executable's folder when it is writable, else $XDG_STATE_HOME/corvale (by default
//   ~/.local/state/corvale), created with mode 0700 because scan states describe the user's disks.
//   As root the environment is not asked (it belongs to whoever started the program) and only a
//   folder closed to others will do: the executable's folder when it is, else root's own state
//   folder, ~root/.local/state/corvale from the account database.
// Both paths end in '/', so a file name can be appended directly; both are empty when they cannot
// be found or made. An empty program folder means nothing is written: never the current folder.

#include <cstdint>
#include <string>

namespace platform {

// The folder of the running executable, ending in '/'.
std::string ExecutableDirectory();

// The writable program folder, chosen once per process and then kept for the whole run.
std::string ProgramFolder();

// The choice ProgramFolder makes, for a given executable folder, without caching: `executableDir`
// when it is writable (and, as root, closed to others), else the per-user state folder (as root,
// root's), created when missing.
std::string ChooseProgramFolder(const std::string& executableDir);
// Root's own state folder, ending in '/': ".local/state/corvale" in root's home folder as the
// account database gives it. Empty when there is no such account.
std::string RootStateFolder();

// True when nobody but root and the effective user can change what `dir` holds: it and every
// folder above it belong to root or the effective user, and none is writable by its group or by
// others unless it has the sticky bit (as /tmp). Otherwise false, with the folder and the reason in
// *problem.
bool IsFolderClosedToOthers(const std::string& dir, std::string* problem);

// Empty unless the program runs as root from a folder that another user could change: then the
// text that tells why it does not start. Root loads the programs, the translations and the usage
// library from that folder, and writes its log there.
std::string UntrustedExecutableFolderText();

// Opens the program's own output file `path` (a log, a report) with `flags` (O_CREAT and the
// access mode among them): never through a link, mode 0600, and only a regular file of the
// effective user with a single name. -1 (errno set) otherwise.
int OpenPrivateFile(const std::string& path, int flags);

// The start sector of the intelligent search: key "pos" of section "main" in config.ini in the
// program folder. 0 when the file or key is missing or unreadable, or the value is not a plain
// non-negative 64-bit decimal.
uint64_t ReadSearchStartSector();
// The same, from the given file.
uint64_t ReadSearchStartSectorFrom(const std::string& path);

}  // namespace platform
