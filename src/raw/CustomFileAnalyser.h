#pragma once
// File types the user describes in signature scripts: small text files "*.fhs" in the folder
// "CustomFileScript" beside the program. A script names one extension and lists byte patterns at
// fixed offsets of a file's first sector; a sector that carries every pattern of a script starts a
// file of that type.
//
// Script text: at most 1024 single-byte characters, lines ended by CR LF or by LF alone (scripts
// are written with the editors of either system; a CR not followed by LF is an ordinary character),
// the last line with or without its line end, every line one of
//   REMARK: any text
//   FILEINFO: EXTNAME="DAT"
//   FILESIGN: OFFSET=0x10 TYPE=CHAR VALUE="HDR"
//   FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x4D,0x5A
// The keyword is the text before the first ':' (any case); keys are case-sensitive and found
// anywhere on the line, followed by '=' with only blanks or tabs between; a value that starts with
// '"' runs to the last '"' of the line, any other to the first blank, tab or LF. EXTNAME loses its
// first and last characters (normally the quotes). OFFSET and BYTE items are "0x" hexadecimal
// numbers of 3 to 10 characters; an offset is at most 0x1F0, a byte at most 0xFF; a pattern holds
// at most 16 bytes.
//
// A script that breaks a rule is left out as a whole, with one logged error that names the script,
// the line (1-based, 0 for the file as a whole) and the reason; the other scripts load and the scan
// goes on. Besides the grammar, a script is refused when it has no FILEINFO line, no FILESIGN line,
// only empty patterns (it would match every sector), or an extension that does not fit the
// file-type table (more than 5 characters) or a file name.
//
// Scripts load in the byte order of their file names, and every distinct extension (compared
// without regard to case) gets its file-type id from 1000 on when its script loads, so the same
// folder gives the same ids in every run. When the 1000 ids are all taken, a script with a further
// extension is refused.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raw/IRawFileAnalyser.h"

class CRawFileAnalyserList;
struct RawFileTypeTable;

constexpr size_t kScriptMaxBytes = 1024;
constexpr size_t kScriptMaxPattern = 16;
constexpr uint32_t kScriptMaxOffset = 0x1F0;
constexpr size_t kScriptMaxExtension = 5;  // what a row of the file-type table holds

// One pattern: `Length` bytes of `Value` at `Offset` of the first sector.
struct CustomSignature {
  uint32_t Offset = 0;
  uint32_t Length = 0;
  uint8_t Value[260] = {};
};

// Why a script was refused. Line 0 stands for the file as a whole.
struct ScriptLoadError {
  std::string Path;
  int Line = 0;
  std::string Reason;
};

// The custom row of `table` whose extension equals `extension` (any case), or the first empty one
// from 1000 on, which then receives it; kNoRawFileType when the rows are all taken by others.
// `extension` must fit a row (at most 5 characters).
int32_t AssignCustomRawFileType(RawFileTypeTable& table, const std::string& extension);

// Reads and checks one script.
class CScriptProcess {
 public:
  // Reads the script at `path` (read only; a regular file, as root one of root's that nobody else may
  // change). False, with the reason, when it cannot.
  bool Open(const std::string& path, std::string* problem = nullptr);
  // Takes the script text as it stands (the text of a script file).
  void SetText(std::string text);
  void Close();

  // The whole script against the rules; on failure the 1-based line (0 for the file) and reason.
  bool Validate(int* line = nullptr, std::string* problem = nullptr) const;
  // The EXTNAME value of the first FILEINFO line, upper case; false when there is none.
  bool GetExtension(std::string* out) const;
  // From line *lineIndex (0-based) on: the next FILESIGN line, parsed into *out, *lineIndex left
  // after it. False when no such line is left or the line does not parse.
  bool GetNextSignature(int* lineIndex, CustomSignature* out) const;
  // Line `index` (0-based), blanks and tabs trimmed; false when the script has fewer lines.
  bool GetLine(int index, std::string* out) const;

 private:
  bool m_open = false;
  bool m_tooLong = false;
  std::string m_text;  // the first kScriptMaxBytes bytes
};

// One loaded script.
class CCustomHeader {
 public:
  // Loads and checks the script; false with the line and reason when it is refused.
  bool Load(const std::string& path, ScriptLoadError* error = nullptr);
  bool LoadText(const std::string& path, std::string text, ScriptLoadError* error = nullptr);
  bool Match(const uint8_t* sector) const;
  const std::string& GetExtension() const { return m_extension; }
  const std::vector<CustomSignature>& GetSignatures() const { return m_signatures; }
  int32_t GetTypeId() const { return m_typeId; }
  void SetTypeId(int32_t id) { m_typeId = id; }

 private:
  bool Take(const CScriptProcess& script, const std::string& path, ScriptLoadError* error);

  std::string m_extension;
  std::vector<CustomSignature> m_signatures;
  int32_t m_typeId = -1;
};

// The scripts of one folder, in load order.
class CCustomHeaderManage {
 public:
  // Loads every "*.fhs" file of `folder` (any case of the extension), in file-name order, giving
  // each extension its id in `table`. True when the folder could be listed. Refused scripts are
  // logged and kept in Errors(). Running as root the folder and each script must be root's and
  // closed to others (platform::OpenTrustedFolder, OpenTrustedFileAt); a link is not followed.
  bool Load(const std::string& folder, RawFileTypeTable& table);
  // The first script in load order that matches the sector; null when none does.
  const CCustomHeader* Match(const uint8_t* sector) const;

  size_t size() const { return m_headers.size(); }
  const std::vector<std::unique_ptr<CCustomHeader>>& Headers() const { return m_headers; }
  const std::vector<ScriptLoadError>& Errors() const { return m_errors; }
  // The first bytes a matching sector can start with.
  RawLeadBytes LeadBytes() const;

 private:
  void Refuse(ScriptLoadError error);

  // One byte every matching sector holds, per script in load order: most sectors fail on it.
  struct Key {
    uint32_t offset;
    uint8_t value;
    const CCustomHeader* header;
  };

  std::vector<std::unique_ptr<CCustomHeader>> m_headers;
  std::vector<Key> m_keys;
  std::vector<ScriptLoadError> m_errors;
};

// The analyser of the script types. Files it recognises get the script's type id; their length
// is not told by any header, so the search ends each at the next file it finds (see
// CRAWSearchController), and ComputeFileSize does not measure.
class CustomFileAnalyser : public IRawFileAnalyser {
 public:
  // The scripts of "CustomFileScript" beside the program, ids in the process's file-type table.
  CustomFileAnalyser();
  // The scripts of `folder`, ids in `table` (the process's table when null).
  explicit CustomFileAnalyser(const std::string& folder, RawFileTypeTable* table = nullptr);

  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;

  const CCustomHeaderManage& Scripts() const { return m_scripts; }

 private:
  CCustomHeaderManage m_scripts;
  RawLeadBytes m_lead;
};

// The folder the program's scripts are read from.
std::string CustomScriptFolder();

// True for an analyser of script types.
bool IsCustomFileAnalyser(const IRawFileAnalyser* analyser);

// Appends an analyser of script types to `list` when it has none and the program's script folder
// holds at least one script that loads, so that the user's types are carved with the chosen ones.
void AddCustomFileAnalyserForScripts(CRawFileAnalyserList& list);
