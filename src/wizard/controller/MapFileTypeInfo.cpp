#include "wizard/controller/MapFileTypeInfo.h"

#include <cstdlib>
#include <set>

#include "platform/FileTypeExtensionSet.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "wizard/controller/MarkupMSXML.h"

namespace {

constexpr const char* kSourceName = ".\\controller\\MapFileTypeInfo";
constexpr const char* kUnknownType = "Unknown File Type.";
constexpr const char* kEmptyExtension = "???";

// The built-in catalogue: resources/FileFilter.xml as it was when the program was built.
#include "FileFilterXml.inc"

void LogFailure(int line, int error) {
  LogError("FileNO:%X \t  Line:%d \t err:%d", FileNameToFileCode(kSourceName), line, error);
}

// A text cut to `width` - 1 bytes, never inside a UTF-8 sequence.
std::string Cut(const std::string& text, size_t width) {
  if (text.size() < width) return text;
  size_t end = width - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// A decimal number as the catalogue writes them; anything else counts as 0, and so does a value
// out of the 32-bit range.
int32_t Number(const std::string& text) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

// Check states other than 0, 1 and 2 mean nothing to the trees; they count as not chosen.
int16_t CheckState(const std::string& text) {
  const int32_t value = Number(text);
  return value >= 0 && value <= 2 ? static_cast<int16_t>(value) : 0;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

using Element = CMarkupMSXML::Element;

// The catalogue's own elements and what each may hold. Anything else means the file is not a
// catalogue of this program's layout (a typo, or another program's file): it is refused whole
// rather than shown in part.
std::string CheckLayout(const Element& root) {
  auto unknown = [](const Element& parent, const Element& child) {
    return "it has an unknown element <" + child.name + "> inside <" + parent.name + ">";
  };
  std::set<std::string> extensions;
  size_t types = 0;
  for (const auto& category : root.children) {
    if (category->name != "FileCategory") return unknown(root, *category);
    bool shown = false;
    bool mutex = false;
    for (const auto& [key, value] : category->attributes) {
      if (key == "Description" && !value.empty()) shown = true;
      if (key == "IsMutex" && Number(value) != 0) mutex = true;
    }
    for (const auto& entry : category->children) {
      if (entry->name == "Selected") {
        if (!entry->children.empty()) return unknown(*entry, *entry->children.front());
        continue;
      }
      if (entry->name != "FileType") return unknown(*category, *entry);
      size_t count = 0;
      for (const auto& item : entry->children) {
        if (item->name != "Extention" && item->name != "Selected") return unknown(*entry, *item);
        if (!item->children.empty()) return unknown(*item, *item->children.front());
        if (item->name != "Extention" || !shown || count == FILE_TYPE_RECORD::kMaxExtensions) continue;
        ++count;
        // A category marked IsMutex stands for "everything but the unticked types": its types
        // overlap the others by design.
        if (mutex) continue;
        const std::string key =
            Lower(Cut(item->text.empty() ? kEmptyExtension : item->text, FILE_TYPE_RECORD::kExtensionChars));
        // Two ordinary types with one extension would tick and untick each other's files behind
        // the user's back.
        if (!extensions.insert(key).second) return "the extension " + key + " is listed by two file types";
      }
      if (count) ++types;
    }
  }
  if (!root.children.empty() && types == 0) return "it lists no file type";
  return {};
}

}  // namespace

CMapFileTypeInfo::CMapFileTypeInfo() = default;

CMapFileTypeInfo::~CMapFileTypeInfo() { RemoveAll(); }

int CMapFileTypeInfo::AddRecord(const FILE_TYPE_RECORD* record) {
  if (!record) return kInvalidRecord;
  m_records.emplace(record->id, std::make_unique<FILE_TYPE_RECORD>(*record));
  return 0;
}

std::vector<int32_t> CMapFileTypeInfo::GetTypeIds() const {
  std::vector<int32_t> ids;
  ids.reserve(m_records.size());
  for (const auto& entry : m_records) ids.push_back(entry.first);
  return ids;
}

FILE_TYPE_RECORD* CMapFileTypeInfo::FindType(int32_t id) {
  auto found = m_records.find(id);
  return found == m_records.end() ? nullptr : found->second.get();
}

const FILE_TYPE_RECORD* CMapFileTypeInfo::FindType(int32_t id) const {
  auto found = m_records.find(id);
  return found == m_records.end() ? nullptr : found->second.get();
}

void CMapFileTypeInfo::RemoveAll() { m_records.clear(); }

int CMapFileTypeInfo::LoadFromXml(const std::string& path) {
  CMarkupMSXML markup;
  if (!markup.LoadFile(path)) {
    m_loadError = "it cannot be read as XML: " + markup.GetErrorReason();
    LogFailure(339, kLoadFailed);
    LogFailure(642, kLoadFailed);
    return kLoadFailed;
  }
  return Load(markup);
}

int CMapFileTypeInfo::LoadFromXmlText(const std::string& text) {
  CMarkupMSXML markup;
  if (text.empty() || !markup.SetXmlText(text)) {
    m_loadError = "it cannot be read as XML: " + markup.GetErrorReason();
    LogFailure(339, kLoadFailed);
    LogFailure(642, kLoadFailed);
    return kLoadFailed;
  }
  return Load(markup);
}

int CMapFileTypeInfo::Load(CMarkupMSXML& markup) {
  m_loadError.clear();
  auto fail = [this](int line, int error, std::string why) {
    m_loadError = std::move(why);
    LogFailure(line, error);
    LogFailure(642, error);
    return error;
  };
  if (!markup.FindNextElement(nullptr)) return fail(348, kLoadFailed, "it has no document element");
  const std::string refused = CheckLayout(*markup.GetDocumentElement());
  if (!refused.empty()) return fail(348, kRefused, refused);

  FILE_TYPE_RECORD root;
  root.id = 0;
  root.level = 0;
  root.parentId = -1;
  root.description = Cut(markup.GetAttribute("RootName"), FILE_TYPE_RECORD::kTextChars);
  root.checkState = CheckState(markup.GetAttribute("Selected"));
  root.iconIndex = Number(markup.GetAttribute("iconIndex"));
  // The root's mutex flag is read through the child accessor while no child is chosen: always 0.
  root.mutexFlag = Number(markup.GetChildAttribute("IsMutex"));
  if (int error = AddRecord(&root)) return fail(475, error, "it could not be stored");

  if (!markup.FindNextChildElement("FileCategory")) return fail(386, kNoCategory, "it has no FileCategory");
  int32_t nextId = 1;
  do {
    FILE_TYPE_RECORD category;
    category.comment = Cut(markup.GetChildAttribute("ShowComment"), FILE_TYPE_RECORD::kCommentChars);
    category.description = Cut(markup.GetChildAttribute("Description"), FILE_TYPE_RECORD::kTextChars);
    category.label = Cut(markup.GetChildAttribute("Label"), FILE_TYPE_RECORD::kTextChars);
    category.iconIndex = Number(markup.GetChildAttribute("iconIndex"));
    category.mutexFlag = Number(markup.GetChildAttribute("IsMutex"));
    const std::string categoryMarkup = markup.GetChildMarkup();
    CMarkupMSXML state;
    state.SetXmlText(categoryMarkup);
    if (state.FindNextChildElement("Selected")) category.checkState = CheckState(state.GetChildText());
    if (category.description.empty()) continue;

    category.id = nextId++;
    category.level = 1;
    category.parentId = 0;
    if (int error = AddRecord(&category)) return fail(475, error, "it could not be stored");

    CMarkupMSXML types;
    types.SetXmlText(categoryMarkup);
    while (types.FindNextChildElement("FileType")) {
      FILE_TYPE_RECORD type;
      type.description = Cut(types.GetChildAttribute("Description"), FILE_TYPE_RECORD::kTextChars);
      if (type.description.empty()) type.description = kUnknownType;
      CMarkupMSXML one;
      one.SetXmlText(types.GetChildMarkup());
      size_t listed = 0;
      while (one.FindNextChildElement("Extention")) {
        // Only 30 extension slots exist; the rest of a longer list is left out.
        if (++listed > FILE_TYPE_RECORD::kMaxExtensions) continue;
        const std::string text = one.GetChildText();
        type.extensions.push_back(text.empty() ? kEmptyExtension
                                               : Cut(text, FILE_TYPE_RECORD::kExtensionChars));
      }
      if (listed > FILE_TYPE_RECORD::kMaxExtensions)
        LogInfo("File type %s lists %zu extensions; the first %zu are kept\n", type.description.c_str(),
                listed, FILE_TYPE_RECORD::kMaxExtensions);
      if (one.FindNextChildElement("Selected")) type.checkState = CheckState(one.GetChildText());
      if (type.extensions.empty()) continue;
      type.id = nextId++;
      type.level = 2;
      type.parentId = category.id;
      if (int error = AddRecord(&type)) {
        LogFailure(620, error);
        return fail(630, error, "it could not be stored");
      }
    }
  } while (markup.FindNextChildElement("FileCategory"));
  return 0;
}

const std::string& BuiltInFileTypeCatalogue() {
  static const std::string text(reinterpret_cast<const char*>(kFileFilterXml), sizeof kFileFilterXml);
  return text;
}

std::string FileTypeCatalogueFile() { return platform::ExecutableDirectory() + "FileFilter.xml"; }

std::string LoadFileTypeCatalogue(CMapFileTypeInfo& catalogue, const std::string& path) {
  if (catalogue.LoadFromXml(path) == 0) return {};
  std::string why = catalogue.GetLoadError();
  // A half-read file is not shown: the built-in list replaces all of it.
  catalogue.RemoveAll();
  catalogue.LoadFromXmlText(BuiltInFileTypeCatalogue());
  return why;
}

int32_t ChooseMode(const CMapFileTypeInfo& catalogue) {
  for (int32_t id : catalogue.GetTypeIds()) {
    const FILE_TYPE_RECORD* record = catalogue.FindType(id);
    if (record->checkState == 2 && record->mutexFlag != 0) return CFileTypeExtensionSet::kExcludeList;
  }
  return CFileTypeExtensionSet::kIncludeList;
}

void BuildFromCatalogue(CFileTypeExtensionSet& set, const CMapFileTypeInfo& catalogue, bool allTypes) {
  if (allTypes) {
    set.Rebuild(CFileTypeExtensionSet::kAllTypes, {});
    return;
  }
  const int32_t mode = ChooseMode(catalogue);
  std::set<std::string> chosen;
  for (int32_t id : catalogue.GetTypeIds()) {
    const FILE_TYPE_RECORD* record = catalogue.FindType(id);
    if (record->checkState == 2)
      for (const std::string& extension : record->extensions) chosen.insert(Lower(extension));
  }
  std::vector<std::string> extensions;
  for (int32_t id : catalogue.GetTypeIds()) {
    const FILE_TYPE_RECORD* record = catalogue.FindType(id);
    if (record->extensions.empty() || record->extensions.front().empty()) continue;
    if (mode == CFileTypeExtensionSet::kIncludeList && record->checkState == 2)
      extensions.insert(extensions.end(), record->extensions.begin(), record->extensions.end());
    if (mode == CFileTypeExtensionSet::kExcludeList && record->checkState == 0)
      for (const std::string& extension : record->extensions)
        if (!chosen.count(Lower(extension))) extensions.push_back(extension);
  }
  set.Rebuild(mode, extensions);
}
