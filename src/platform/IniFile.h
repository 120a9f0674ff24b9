#pragma once
// A small INI file: "[section]" lines and "key=value" lines, read and rewritten in place. It backs the
// machine-wide settings file (the registry replacement) and the program folder's config.ini.
//
// Reading follows the usual private-profile rules: section and key names match without regard to
// ASCII case, blanks around names and values are dropped, a value wrapped in double quotes loses the
// quotes, lines starting with ';' or '#' are comments. Rewriting keeps every line it does not change,
// so comments and unknown entries written by an administrator survive.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvale {

class IniFile {
 public:
  enum class LoadResult {
    Ok,
    Missing,     // no such file: the same as an empty file for most callers
    Unreadable,  // the file exists but cannot be read (permissions, a folder, an I/O error)
    TooLarge,    // over kMaxBytes: no settings file of ours is that big, so it is not ours to parse
  };

  static constexpr size_t kMaxBytes = 1 << 20;

  // Reads `path`. On any result other than Ok the object is left empty; *error gets the errno.
  LoadResult Load(const std::string& path, int* error = nullptr);
  void Parse(std::string_view text);

  bool HasSection(std::string_view section) const;
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Sets `key` in `section`, adding the section at the end when it is missing. Refuses (false)
  // names and values that the line format cannot hold: line breaks and NULs anywhere, ']' in a
  // section name, '=' in a key, an empty key.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Whether Set would take these names and value.
  static bool CanHold(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;
  // Replaces `path` by the current text atomically (a temporary file beside it, then a rename), so a
  // reader never sees half a file. The file keeps its permissions; a new one gets `newFileMode`.
  bool Save(const std::string& path, unsigned newFileMode, int* error = nullptr) const;

 private:
  struct Line {
    std::string raw;      // the line as read or written, without its line break
    std::string section;  // set for "[section]" lines
    std::string key;      // set for "key=value" lines
    std::string value;
    bool isSection = false;
    bool isEntry = false;
  };
  static Line ParseLine(std::string_view raw);
  // Index of the entry line of `key` in the first section named `section` that holds it.
  std::optional<size_t> FindEntry(std::string_view section, std::string_view key) const;

  std::vector<Line> m_lines;
};

// ASCII case-insensitive comparison, as the settings files' names use.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace corvale
