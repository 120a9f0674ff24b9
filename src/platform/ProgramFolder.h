#pragma once
// The two folders the program knows itself by:
// - the executable's folder, where files shipped beside the program are found (update.ini,
//   FileFilter.xml, CustomFileScript);
// - the program folder, where the program writes its log, scan-state files and config.ini: the
//   executable's folder when it is writable, else $XDG_STATE_HOME/corvale (by default
//   ~/.local/state/corvale), created with mode 0700 because scan states describe the user's disks.
// Both paths end in '/', so a file name can be appended directly; both are empty when they cannot
// be found or made.

#include <cstdint>
#include <string>

namespace platform {

// The folder of the running executable, ending in '/'.
std::string ExecutableDirectory();

// The writable program folder, chosen once per process and then kept for the whole run.
std::string ProgramFolder();

// The choice ProgramFolder makes, for a given executable folder, without caching: `executableDir`
// when it is writable, else the per-user state folder, created when missing.
std::string ChooseProgramFolder(const std::string& executableDir);

// The start sector of the intelligent search: key "pos" of section "main" in config.ini in the
// program folder. 0 when the file or key is missing or unreadable, or the value is not a plain
// non-negative 64-bit decimal.
uint64_t ReadSearchStartSector();
// The same, from the given file.
uint64_t ReadSearchStartSectorFrom(const std::string& path);

}  // namespace platform
