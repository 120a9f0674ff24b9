#include "raw/CustomFileAnalyser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/TrustedFile.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

// Reads a script from the opened `fd`: one byte more than a script may hold, which tells a longer
// file. False with the reason when it cannot be read.
bool ReadScriptFile(int fd, std::string* text, std::string* problem) {
  text->assign(kScriptMaxBytes + 1, '\0');
  size_t have = 0;
  while (have < text->size()) {
    const ssize_t n = ::read(fd, text->data() + have, text->size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (problem) *problem = std::string("cannot be read: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  text->resize(have);
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// The value of `key` on `line`: the key's first occurrence, blanks or tabs, '=', blanks or tabs,
// then a quoted value up to the line's last '"' (quotes included) or a word up to a blank, tab or
// LF. Empty when the key is missing or not followed by '='.
std::string_view KeyValue(std::string_view line, std::string_view key) {
  size_t p = line.find(key);
  if (p == std::string_view::npos) return {};
  p += key.size();
  while (p < line.size() && IsBlank(line[p])) ++p;
  if (p >= line.size() || line[p] != '=') return {};
  ++p;
  while (p < line.size() && IsBlank(line[p])) ++p;
  if (p >= line.size()) return {};
  if (line[p] == '"') {
    const size_t last = line.rfind('"');
    return line.substr(p, last - p + 1);
  }
  size_t end = p;
  while (end < line.size() && !IsBlank(line[end]) && line[end] != '\n') ++end;
  return line.substr(p, end - p);
}

// "0x" and hexadecimal digits, 3 to 10 characters in all.
std::optional<uint32_t> ParseHex(std::string_view text) {
  if (text.size() < 3 || text.size() > 10) return std::nullopt;
  if (text[0] != '0' || Upper(text[1]) != 'X') return std::nullopt;
  uint32_t value = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    const char c = Upper(text[i]);
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;  // at most 8 digits: no overflow
  }
  return value;
}

enum class LineKind { Remark, FileInfo, FileSign, Invalid };

LineKind KindOf(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return LineKind::Invalid;
  const std::string_view keyword = Trim(line.substr(0, colon));
  if (EqualsNoCase(keyword, "REMARK")) return LineKind::Remark;
  if (EqualsNoCase(keyword, "FILEINFO")) return LineKind::FileInfo;
  if (EqualsNoCase(keyword, "FILESIGN")) return LineKind::FileSign;
  return LineKind::Invalid;
}

// The extension of a FILEINFO line; empty with the reason when it does not pass.
std::string ParseExtension(std::string_view line, std::string* problem) {
  const std::string_view value = KeyValue(line, "EXTNAME");
  if (value.size() < 3 || value.size() > 18) {
    *problem = value.empty() ? "FILEINFO without an EXTNAME value" : "EXTNAME must hold 1 to 16 characters";
    return {};
  }
  return ToUpper(value.substr(1, value.size() - 2));
}

// A FILESIGN line as a pattern; false with the reason when it does not parse.
bool ParseSignature(std::string_view line, CustomSignature* out, std::string* problem) {
  *out = CustomSignature{};
  if (Trim(line).empty()) {
    *problem = "empty FILESIGN line";
    return false;
  }
  const std::string_view offsetText = KeyValue(line, "OFFSET");
  if (offsetText.empty()) {
    *problem = "FILESIGN without OFFSET";
    return false;
  }
  const std::optional<uint32_t> offset = ParseHex(offsetText);
  if (!offset) {
    *problem = "OFFSET is not a number written 0x...: " + std::string(offsetText);
    return false;
  }
  if (*offset > kScriptMaxOffset) {
    *problem = "OFFSET above 0x1F0";
    return false;
  }
  const std::string_view type = KeyValue(line, "TYPE");
  const std::string_view value = KeyValue(line, "VALUE");
  if (type.empty() || value.empty()) {
    *problem = type.empty() ? "FILESIGN without TYPE" : "FILESIGN without VALUE";
    return false;
  }
  if (value.back() == ',') {
    *problem = "VALUE ends with a comma (blanks end an unquoted value)";
    return false;
  }
  out->Offset = *offset;
  if (EqualsNoCase(type, "CHAR")) {
    const size_t first = value.find('"');
    const size_t last = value.rfind('"');
    if (first == std::string_view::npos || first == last) {
      *problem = "a CHAR VALUE must be written in double quotes";
      return false;
    }
    const size_t length = last - first - 1;
    if (length > kScriptMaxPattern) {
      *problem = "pattern longer than 16 bytes";
      return false;
    }
    out->Length = static_cast<uint32_t>(length);
    std::memcpy(out->Value, value.data() + first + 1, length);
    return true;
  }
  if (!EqualsNoCase(type, "BYTE")) {
    *problem = "TYPE must be CHAR or BYTE";
    return false;
  }
  std::vector<std::string_view> items;
  size_t at = 0;
  while (at <= value.size()) {
    size_t end = value.find_first_of(", \t", at);
    if (end == std::string_view::npos) end = value.size();
    if (end > at) items.push_back(value.substr(at, end - at));
    at = end + 1;
  }
  if (items.empty() || items.size() > kScriptMaxPattern) {
    *problem = items.empty() ? "BYTE VALUE without numbers" : "pattern longer than 16 bytes";
    return false;
  }
  if (items.back().size() > 4) {
    *problem = "the last BYTE item is longer than 4 characters";
    return false;
  }
  for (size_t i = 0; i < items.size(); ++i) {
    const std::optional<uint32_t> byte = ParseHex(items[i]);
    if (!byte || *byte > 0xFF) {
      *problem = "BYTE item is not a number 0x00 to 0xFF: " + std::string(items[i]);
      return false;
    }
    out->Value[i] = static_cast<uint8_t>(*byte);
  }
  out->Length = static_cast<uint32_t>(items.size());
  return true;
}

// Characters an extension may not hold: it becomes part of folder and file names.
bool IsNameSafeExtension(std::string_view ext) {
  for (char c : ext) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || std::strchr("/\\:*?\"<>|. ", c) != nullptr) return false;
  }
  return true;
}

}  // namespace

int32_t AssignCustomRawFileType(RawFileTypeTable& table, const std::string& extension) {
  if (extension.empty() || extension.size() >= static_cast<size_t>(kRawExtensionChars)) return kNoRawFileType;
  for (int32_t id = kFirstCustomRawFileType; id < kRawFileTypeCount; ++id) {
    char* row = table.Extensions[id];
    if (row[0] == '\0') {
      std::memcpy(row, extension.data(), extension.size());
      row[extension.size()] = '\0';
      return id;
    }
    if (EqualsNoCase(row, extension)) return id;
  }
  return kNoRawFileType;
}

// ---------------------------------------------------------------------------------------------

bool CScriptProcess::Open(const std::string& path, std::string* problem) {
  Close();
  std::string why;
  const int fd = platform::OpenTrustedFile(path, &why);
  if (fd < 0) {
    if (problem) *problem = (errno == EPERM ? "is not used: " : "cannot be opened: ") + why;
    return false;
  }
  std::string text;
  const bool read = ReadScriptFile(fd, &text, problem);
  ::close(fd);
  if (!read) return false;
  SetText(std::move(text));
  return true;
}

void CScriptProcess::SetText(std::string text) {
  m_tooLong = text.size() > kScriptMaxBytes;
  if (m_tooLong) text.resize(kScriptMaxBytes);
  m_text = std::move(text);
  m_open = true;
}

void CScriptProcess::Close() {
  m_open = false;
  m_tooLong = false;
  m_text.clear();
}

bool CScriptProcess::GetLine(int index, std::string* out) const {
  if (!m_open || index < 0) return false;
  std::string_view rest(m_text);
  for (int i = 0; i < index; ++i) {
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) return false;
    rest.remove_prefix(end + 1);
    // The text after the last line's end is no line of its own.
    if (rest.empty()) return false;
  }
  std::string_view line = rest.substr(0, rest.find('\n'));
  if (line.size() < rest.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  *out = std::string(Trim(line));
  return true;
}

bool CScriptProcess::Validate(int* line, std::string* problem) const {
  int badLine = 0;
  std::string why;
  bool ok = true;
  if (!m_open) {
    ok = false;
    why = "not open";
  } else if (m_tooLong) {
    ok = false;
    why = "longer than 1024 bytes";
  } else {
    std::string text;
    for (int i = 0; ok && GetLine(i, &text); ++i) {
      switch (KindOf(text)) {
        case LineKind::Remark:
          break;
        case LineKind::FileInfo:
          ok = !ParseExtension(text, &why).empty();
          break;
        case LineKind::FileSign: {
          CustomSignature signature;
          ok = ParseSignature(text, &signature, &why);
          break;
        }
        case LineKind::Invalid:
          ok = false;
          why = text.empty() ? "empty line" : "not a REMARK, FILEINFO or FILESIGN line";
          break;
      }
      if (!ok) badLine = i + 1;
    }
  }
  if (line) *line = badLine;
  if (problem) *problem = ok ? std::string() : why;
  return ok;
}

bool CScriptProcess::GetExtension(std::string* out) const {
  std::string text;
  for (int i = 0; GetLine(i, &text); ++i) {
    if (KindOf(text) != LineKind::FileInfo) continue;
    std::string why;
    *out = ParseExtension(text, &why);
    return !out->empty();
  }
  return false;
}

bool CScriptProcess::GetNextSignature(int* lineIndex, CustomSignature* out) const {
  std::string text;
  for (int i = *lineIndex; GetLine(i, &text); ++i) {
    if (KindOf(text) != LineKind::FileSign) continue;
    *lineIndex = i + 1;
    std::string why;
    return ParseSignature(text, out, &why);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------

bool CCustomHeader::Load(const std::string& path, ScriptLoadError* error) {
  CScriptProcess script;
  std::string why;
  if (!script.Open(path, &why)) {
    if (error) *error = {path, 0, why};
    return false;
  }
  return Take(script, path, error);
}

bool CCustomHeader::LoadText(const std::string& path, std::string text, ScriptLoadError* error) {
  CScriptProcess script;
  script.SetText(std::move(text));
  return Take(script, path, error);
}

bool CCustomHeader::Take(const CScriptProcess& script, const std::string& path, ScriptLoadError* error) {
  auto refuse = [&](int line, std::string why) {
    if (error) *error = {path, line, std::move(why)};
    return false;
  };
  int line = 0;
  std::string why;
  if (!script.Validate(&line, &why)) return refuse(line, why);

  std::string text;
  int infoLine = 0;
  for (int i = 0; script.GetLine(i, &text); ++i) {
    if (KindOf(text) == LineKind::FileInfo) {
      infoLine = i + 1;
      break;
    }
  }
  if (infoLine == 0 || !script.GetExtension(&m_extension)) return refuse(0, "no FILEINFO line with EXTNAME");
  if (m_extension.size() > kScriptMaxExtension)
    return refuse(infoLine, "EXTNAME longer than 5 characters: " + m_extension);
  if (!IsNameSafeExtension(m_extension))
    return refuse(infoLine, "EXTNAME holds a character a file name cannot: " + m_extension);

  m_signatures.clear();
  int next = 0;
  CustomSignature signature;
  bool anyBytes = false;
  while (script.GetNextSignature(&next, &signature)) {
    m_signatures.push_back(signature);
    anyBytes = anyBytes || signature.Length != 0;
  }
  if (m_signatures.empty()) return refuse(0, "no FILESIGN line: the script could never match");
  if (!anyBytes) return refuse(0, "every pattern is empty: the script would match every sector");
  return true;
}

bool CCustomHeader::Match(const uint8_t* sector) const {
  if (m_signatures.empty()) return false;
  for (const CustomSignature& s : m_signatures) {
    if (std::memcmp(sector + s.Offset, s.Value, s.Length) != 0) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

void CCustomHeaderManage::Refuse(ScriptLoadError error) {
  if (error.Line > 0) {
    LogError("Signature script %s, line %d: %s; the script is left out", error.Path.c_str(), error.Line,
             error.Reason.c_str());
  } else {
    LogError("Signature script %s: %s; the script is left out", error.Path.c_str(), error.Reason.c_str());
  }
  m_errors.push_back(std::move(error));
}

bool CCustomHeaderManage::Load(const std::string& folder, RawFileTypeTable& table) {
  m_headers.clear();
  m_keys.clear();
  m_errors.clear();
  // As root the scripts decide what is carved from a disk and where: the folder and every script
  // must be root's, and nobody else may change them.
  std::string why;
  const int folderFd = platform::OpenTrustedFolder(folder, &why);
  if (folderFd < 0) {
    if (errno == EPERM) Refuse({folder, 0, "the folder is not used: " + why});
    return false;
  }
  std::vector<std::string> names;
  const int listFd = ::dup(folderFd);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (dir == nullptr) {
    if (listFd >= 0) ::close(listFd);
    ::close(folderFd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || !EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".fhs")) continue;
    struct stat st {};
    if (entry->d_type == DT_DIR ||
        (entry->d_type == DT_UNKNOWN && ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(st.st_mode)))
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  // The listing order of a folder is arbitrary; the order of names is not.
  std::sort(names.begin(), names.end());
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  for (const std::string& name : names) {
    const std::string path = prefix + name;
    auto header = std::make_unique<CCustomHeader>();
    ScriptLoadError error;
    const int fd = platform::OpenTrustedFileAt(folderFd, name, path, &why);
    std::string text, problem;
    if (fd < 0) {
      Refuse({path, 0, (errno == EPERM ? "is not used: " : "cannot be opened: ") + why});
      continue;
    }
    const bool read = ReadScriptFile(fd, &text, &problem);
    ::close(fd);
    if (!read) {
      Refuse({path, 0, problem});
      continue;
    }
    if (!header->LoadText(path, std::move(text), &error)) {
      Refuse(std::move(error));
      continue;
    }
    const int32_t id = AssignCustomRawFileType(table, header->GetExtension());
    if (id == kNoRawFileType) {
      Refuse({path, 0,
              "no file-type id is left for extension " + header->GetExtension() +
                  " (the 1000 ids of script types are all taken)"});
      continue;
    }
    header->SetTypeId(id);
    // Every loaded script has a pattern of at least one byte; its first byte is the key.
    for (const CustomSignature& sig : header->GetSignatures()) {
      if (sig.Length == 0) continue;
      m_keys.push_back({sig.Offset, sig.Value[0], header.get()});
      break;
    }
    m_headers.push_back(std::move(header));
  }
  ::close(folderFd);
  return true;
}

const CCustomHeader* CCustomHeaderManage::Match(const uint8_t* sector) const {
  for (const Key& key : m_keys) {
    if (sector[key.offset] == key.value && key.header->Match(sector)) return key.header;
  }
  return nullptr;
}

RawLeadBytes CCustomHeaderManage::LeadBytes() const {
  RawLeadBytes lead;
  for (const auto& header : m_headers) {
    bool fixed = false;
    for (const CustomSignature& s : header->GetSignatures()) {
      if (s.Offset == 0 && s.Length > 0) {
        lead.set(s.Value[0]);
        fixed = true;
        break;
      }
    }
    if (!fixed) return RawLeadBytes().set();
  }
  return lead;
}

// ---------------------------------------------------------------------------------------------

std::string CustomScriptFolder() {
  const std::string dir = platform::ExecutableDirectory();
  return dir.empty() ? std::string() : dir + "CustomFileScript";
}

CustomFileAnalyser::CustomFileAnalyser() : CustomFileAnalyser(CustomScriptFolder()) {}

CustomFileAnalyser::CustomFileAnalyser(const std::string& folder, RawFileTypeTable* table) {
  if (!folder.empty()) m_scripts.Load(folder, table ? *table : GetRawFileTypeTable());
  m_lead = m_scripts.LeadBytes();
}

bool CustomFileAnalyser::ComputeFileSize(CRawFileInfo*, IStorageDevice*) { return false; }

bool CustomFileAnalyser::IsFileHeader(const uint8_t* sector, CRawFileInfo* file) {
  const CCustomHeader* header = m_scripts.Match(sector);
  if (header == nullptr) return false;
  file->SetFileType(header->GetTypeId());
  return true;
}

RawLeadBytes CustomFileAnalyser::GetLeadBytes() const { return m_lead; }

bool IsCustomFileAnalyser(const IRawFileAnalyser* analyser) {
  return dynamic_cast<const CustomFileAnalyser*>(analyser) != nullptr;
}

void AddCustomFileAnalyserForScripts(CRawFileAnalyserList& list) {
  for (IRawFileAnalyser* a : list) {
    if (IsCustomFileAnalyser(a)) return;
  }
  auto analyser = std::make_unique<CustomFileAnalyser>();
  if (analyser->Scripts().size() != 0) list.push_back(std::move(analyser));
}
