#pragma once
// The machine-wide settings store both programs share (the user-interface language, the update
// address): an INI file whose sections are key paths such as "SOFTWARE\Corvale\TarnRecovery" and
// whose entries are the values under that key.
//
//   [SOFTWARE\Corvale\TarnRecovery\Language]
//   Language=English
//
// The file is /etc/corvale/registry.ini, or the file named by CORVALE_REGISTRY. Key and value names
// match without regard to ASCII case. Writes replace the file atomically under a lock on its folder,
// so the two programs never see half a file or lose each other's values.

#include <string>
#include <string_view>

namespace platform {

enum class RegistryStatus {
  Ok,
  KeyMissing,    // no settings file, or no section for the key: the key "cannot be opened"
  ValueMissing,  // the key exists but holds no such value
  Unreadable,    // the file exists but cannot be read, or is too large to be ours
  InvalidName,   // a key, value name or data the file format cannot hold (line breaks, NUL, '=' ...)
  WriteFailed,   // the folder or file could not be created or replaced
};

// The settings file in use: $CORVALE_REGISTRY when set and not empty, else /etc/corvale/registry.ini.
// Running as root, $CORVALE_REGISTRY is taken only when nobody but root can change the file or its
// folders (IsPathClosedToOthers); otherwise the log says why and the default is used.
std::string RegistryFilePath();

// Reads value `value` of key `key` into *out. *error (when given) gets the errno of a failure.
RegistryStatus RegistryGetString(std::string_view key, std::string_view value, std::string* out,
                                 int* error = nullptr);

// Writes value `value` of key `key`, creating the key, the file and its folder when missing. A new
// folder gets mode 0755 and a new file 0644: every user may read the settings, as every user may read
// the machine-wide registry key.
RegistryStatus RegistrySetString(std::string_view key, std::string_view value, std::string_view data,
                                 int* error = nullptr);

// A short English name for log lines ("key missing", ...).
const char* RegistryStatusText(RegistryStatus status);

}  // namespace platform
