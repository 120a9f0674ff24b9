#pragma once
// The file-type catalogue: the root entry, the categories and the file types the user chooses from
// on the file-type page, read from "FileFilter.xml" beside the programs. The file's layout:
//
//   <Any RootName="All types" Selected="2" iconIndex="0">       the root entry (id 0)
//     <FileCategory Description="Graphics" Label="..." iconIndex="0" IsMutex="0" ShowComment="...">
//       <Selected>2</Selected>                                    the category's check state
//       <FileType Description="JPEG Graphics file">
//         <Extention>.jpg</Extention>                             1 to 30 extensions
//         <Extention>.jpeg</Extention>
//         <Selected>2</Selected>                                  after the extensions
//       </FileType>
//     </FileCategory>
//   </Any>
//
// Categories and types get ids 1, 2, 3 ... in document order; a category without a Description
// and a type without an extension are skipped and use no id. Check states: 0 not chosen, 1 partly,
// 2 chosen. Numbers are decimal; a missing or malformed number counts as 0.
//
// The catalogue lives on the user-interface thread only. The set of wanted extensions that the
// engines ask (platform/FileTypeExtensionSet.h) is built from it with BuildFromCatalogue.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CFileTypeExtensionSet;

struct FILE_TYPE_RECORD {
  static constexpr size_t kTextChars = 80;      // description and label, with the NUL
  static constexpr size_t kCommentChars = 80;   // comment kept, with the NUL
  static constexpr size_t kExtensionChars = 8;  // one extension, with the NUL
  static constexpr size_t kMaxExtensions = 30;

  int32_t id = 0;
  int32_t level = 0;      // root 0, category 1, type 2
  int32_t parentId = -1;  // root -1, category 0, type its category
  int16_t checkState = 0;
  int32_t iconIndex = 0;
  std::string description;
  std::string label;
  int32_t mutexFlag = 0;
  std::string comment;
  void* treeItem = nullptr;  // the tree row that shows the record; set by the tree
  std::vector<std::string> extensions;
};

class CMapFileTypeInfo {
 public:
  // Load results besides the platform's error numbers.
  static constexpr int kLoadFailed = 11;     // unreadable or not XML, or no document element
  static constexpr int kNoCategory = 1168;   // no FileCategory element
  static constexpr int kInvalidRecord = 87;  // a null record
  static constexpr int kRefused = 13;        // well-formed, but not a catalogue this program accepts

  CMapFileTypeInfo();
  ~CMapFileTypeInfo();

  // Reads the catalogue file at `path`, adding its records to those held (ids already held are
  // kept). 0, or one of the results above. A file that is refused leaves the catalogue as it was.
  int LoadFromXml(const std::string& path);
  // The same for a catalogue given as text.
  int LoadFromXmlText(const std::string& text);
  // Why the last load failed, in words for the user; empty after a successful load.
  const std::string& GetLoadError() const { return m_loadError; }

  // Copies `record` in under its id; a record whose id is held already is not replaced. 0, or
  // kInvalidRecord for null.
  int AddRecord(const FILE_TYPE_RECORD* record);
  // Every id in ascending order.
  std::vector<int32_t> GetTypeIds() const;
  // The record of `id`, which may be changed in place, or null.
  FILE_TYPE_RECORD* FindType(int32_t id);
  const FILE_TYPE_RECORD* FindType(int32_t id) const;
  void RemoveAll();
  size_t GetCount() const { return m_records.size(); }

 private:
  int Load(class CMarkupMSXML& markup);

  std::map<int32_t, std::unique_ptr<FILE_TYPE_RECORD>> m_records;
  std::string m_loadError;
};

// The catalogue that ships with the program, built in: what the user is offered when the file
// beside the programs is missing or refused.
const std::string& BuiltInFileTypeCatalogue();

// The full path of the catalogue file beside the programs.
std::string FileTypeCatalogueFile();

// Loads the catalogue file at `path` into the empty `catalogue`; when the file is missing or
// refused, loads the built-in one instead and returns why, in words for the user; "" otherwise.
std::string LoadFileTypeCatalogue(CMapFileTypeInfo& catalogue, const std::string& path);

// 2 when any chosen record (check state 2) carries the mutex flag (an exclude list), else 1.
int32_t ChooseMode(const CMapFileTypeInfo& catalogue);

// Rebuilds `set` from the user's choice in `catalogue`: with `allTypes`, every type is wanted (the
// set is empty); otherwise the extensions of the chosen types (mode 1), or, when a chosen category
// carries the mutex flag, the extensions of unchosen types that no chosen type shares (mode 2).
void BuildFromCatalogue(CFileTypeExtensionSet& set, const CMapFileTypeInfo& catalogue, bool allTypes);
