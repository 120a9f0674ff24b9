#include "platform/StringTableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/TrustedFile.h"

namespace corvale {
namespace {

std::optional<uint32_t> ParseId(std::string_view digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\0') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace

StringTableFile::LoadResult StringTableFile::Load(const std::string& path) {
  m_texts.clear();
  m_skipped = 0;
  // A translation gives every text the programs show, as root too: only a file of root's that nobody
  // else may change is read then.
  std::string why;
  int fd = platform::OpenTrustedFile(path, &why);
  if (fd < 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Unreadable;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return LoadResult::Unreadable;
  }
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxBytes) {
    close(fd);
    return LoadResult::TooLarge;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return LoadResult::Unreadable;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxBytes) {
      close(fd);
      return LoadResult::TooLarge;
    }
  }
  close(fd);
  Parse(text);
  return LoadResult::Ok;
}

void StringTableFile::Parse(std::string_view text) {
  // A byte-order mark some editors put at the start of a UTF-8 file.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    std::optional<uint32_t> id = tab == std::string_view::npos ? std::nullopt : ParseId(line.substr(0, tab));
    std::optional<std::string> value = id ? Unescape(line.substr(tab + 1)) : std::nullopt;
    if (!value || m_texts.count(*id)) {
      ++m_skipped;
      continue;
    }
    m_texts.emplace(*id, std::move(*value));
  }
}

std::string StringTableFile::Get(uint32_t id) const {
  auto it = m_texts.find(id);
  return it == m_texts.end() ? std::string() : it->second;
}

}  // namespace corvale
