#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvale {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A value that would lose blanks or quotes on the way back in is written inside quotes.
std::string FormatValue(std::string_view value) {
  bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') quote = true;
  std::string text;
  text.reserve(value.size() + 2);
  if (quote) text += '"';
  text.append(value);
  if (quote) text += '"';
  return text;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

IniFile::LoadResult IniFile::Load(const std::string& path, int* error) {
  m_lines.clear();
  int err = 0;
  LoadResult result = LoadResult::Ok;
  std::string text;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    result = err == ENOENT || err == ENOTDIR ? LoadResult::Missing : LoadResult::Unreadable;
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      err = errno;
      result = LoadResult::Unreadable;
    } else if (!S_ISREG(st.st_mode)) {
      err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      result = LoadResult::Unreadable;
    } else {
      // Read to the end rather than trusting st_size: the file may be growing or be a pipe-like file.
      char buffer[8192];
      for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          err = errno;
          result = LoadResult::Unreadable;
          break;
        }
        if (n == 0) break;
        if (text.size() + static_cast<size_t>(n) > kMaxBytes) {
          err = EFBIG;
          result = LoadResult::TooLarge;
          break;
        }
        text.append(buffer, static_cast<size_t>(n));
      }
    }
    ::close(fd);
  }
  if (error) *error = err;
  if (result == LoadResult::Ok) Parse(text);
  return result;
}

IniFile::Line IniFile::ParseLine(std::string_view raw) {
  Line line;
  line.raw = std::string(raw);
  std::string_view t = Trim(raw);
  if (t.empty() || t.front() == ';' || t.front() == '#') return line;
  if (t.front() == '[') {
    size_t close = t.rfind(']');
    if (close != std::string_view::npos) {
      line.isSection = true;
      line.section = std::string(Trim(t.substr(1, close - 1)));
    }
    return line;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return line;
  std::string_view value = Trim(t.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  line.isEntry = true;
  line.key = std::string(key);
  line.value = std::string(value);
  return line;
}

void IniFile::Parse(std::string_view text) {
  m_lines.clear();
  // A NUL ends the text the way it ends a C string: what follows it is not a setting.
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    m_lines.push_back(ParseLine(raw));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  // Entries of one section are found by walking from its header; remember whose they are.
  std::string current;
  for (Line& line : m_lines) {
    if (line.isSection)
      current = line.section;
    else if (line.isEntry)
      line.section = current;
  }
}

bool IniFile::HasSection(std::string_view section) const {
  for (const Line& line : m_lines)
    if (line.isSection && EqualsIgnoringCase(line.section, section)) return true;
  // Entries before the first header belong to the unnamed section.
  if (section.empty())
    for (const Line& line : m_lines)
      if (line.isEntry && line.section.empty()) return true;
  return false;
}

std::optional<size_t> IniFile::FindEntry(std::string_view section, std::string_view key) const {
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const Line& line = m_lines[i];
    if (line.isEntry && EqualsIgnoringCase(line.section, section) && EqualsIgnoringCase(line.key, key))
      return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  std::optional<size_t> i = FindEntry(section, key);
  if (!i) return std::nullopt;
  return m_lines[*i].value;
}

bool IniFile::CanHold(std::string_view section, std::string_view key, std::string_view value) {
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) return false;
  if (section.find(']') != std::string_view::npos || Trim(section) != section) return false;
  if (key.empty() || key.find('=') != std::string_view::npos || Trim(key) != key) return false;
  return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!CanHold(section, key, value)) return false;

  Line entry;
  entry.isEntry = true;
  entry.key = std::string(key);
  entry.value = std::string(value);
  entry.section = std::string(section);

  if (std::optional<size_t> i = FindEntry(section, key)) {
    // Keep the spelling of the name already in the file.
    entry.key = m_lines[*i].key;
    entry.section = m_lines[*i].section;
    entry.raw = entry.key + "=" + FormatValue(value);
    m_lines[*i] = std::move(entry);
    return true;
  }
  entry.raw = entry.key + "=" + FormatValue(value);

  // Into the first section of that name, after its last non-blank line.
  for (size_t i = 0; i < m_lines.size(); ++i) {
    if (!m_lines[i].isSection || !EqualsIgnoringCase(m_lines[i].section, section)) continue;
    entry.section = m_lines[i].section;
    size_t insertAt = i + 1;
    for (size_t j = i + 1; j < m_lines.size() && !m_lines[j].isSection; ++j)
      if (!Trim(m_lines[j].raw).empty()) insertAt = j + 1;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
    return true;
  }
  if (section.empty()) {
    // The unnamed section is the top of the file.
    m_lines.insert(m_lines.begin(), std::move(entry));
    return true;
  }
  if (!m_lines.empty() && !Trim(m_lines.back().raw).empty()) m_lines.push_back(ParseLine(""));
  std::string header = "[";
  header.append(section);
  header += ']';
  m_lines.push_back(ParseLine(header));
  m_lines.push_back(std::move(entry));
  return true;
}

std::string IniFile::Text() const {
  std::string text;
  for (const Line& line : m_lines) {
    text += line.raw;
    text += '\n';
  }
  return text;
}

bool IniFile::Save(const std::string& path, unsigned newFileMode, int* error) const {
  auto fail = [&](int err) {
    if (error) *error = err;
    return false;
  };
  mode_t mode = static_cast<mode_t>(newFileMode & 07777);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string tmpl = path + ".XXXXXX";
  int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return fail(errno);
  std::string text = Text();
  bool ok = WriteAll(fd, text.data(), text.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmpl.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmpl.c_str());
    return fail(err);
  }
  if (error) *error = 0;
  return true;
}

}  // namespace corvale
