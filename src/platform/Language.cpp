#include "platform/Language.h"

#include <mutex>
#include <vector>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/Registry.h"
#include "platform/StringTableFile.h"

namespace corvale {
namespace {

struct Language {
  int32_t id;
  const char* name;
  const char* file;
};

constexpr Language kLanguages[] = {
    {kLanguageChinese, "Chinese", "Chinese.txt"},
    {kLanguageEnglish, "English", nullptr},
    {kLanguageDeutsch, "Deutsch", "Deutsch.txt"},
    {kLanguageJapanese, "Japanese", "Japanese.txt"},
};

// The translations handed out by LoadLanguageLibrary, kept until freed.
struct LoadedTables {
  std::mutex mutex;
  std::vector<std::unique_ptr<IStringTable>> tables;
};

LoadedTables& Loaded() {
  static LoadedTables* loaded = new LoadedTables;
  return *loaded;
}

}  // namespace

int32_t LanguageIdFromName(std::string_view name) {
  for (const Language& l : kLanguages)
    if (name == l.name) return l.id;
  return kLanguageEnglish;
}

const char* LanguageName(int32_t id) {
  for (const Language& l : kLanguages)
    if (l.id == id) return l.name;
  return "English";
}

const char* LanguageFileName(int32_t id) {
  for (const Language& l : kLanguages)
    if (l.id == id) return l.file;
  return nullptr;
}

int ReadLanguageUncached(int32_t* id) {
  std::string name;
  platform::RegistryStatus status = platform::RegistryGetString(kLanguageKey, kLanguageValue, &name);
  *id = status == platform::RegistryStatus::Ok ? LanguageIdFromName(name) : kLanguageEnglish;
  bool keyOpened = status == platform::RegistryStatus::Ok || status == platform::RegistryStatus::ValueMissing;
  return keyOpened ? 1 : 0;
}

namespace {

std::mutex& FolderMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::string& ChosenFolder() {
  static std::string* folder = new std::string;
  return *folder;
}

}  // namespace

std::string LanguageFolder() {
  {
    std::lock_guard<std::mutex> lock(FolderMutex());
    if (!ChosenFolder().empty()) return ChosenFolder();
  }
  return platform::ExecutableDirectory();
}

void SetLanguageFolderForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(FolderMutex());
  ChosenFolder() = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool IsLanguageInstalled(int32_t id) {
  if (id == kLanguageEnglish) return true;
  return LoadLanguageTable(id, LanguageFolder()) != nullptr;
}

std::unique_ptr<IStringTable> LoadLanguageTable(int32_t id, const std::string& folder) {
  const char* file = LanguageFileName(id);
  if (!file || folder.empty()) return nullptr;
  auto table = std::make_unique<StringTableFile>();
  if (table->Load(folder + file) != StringTableFile::LoadResult::Ok) return nullptr;
  return table;
}

}  // namespace corvale

int ReadLanguageFromReg(int32_t* id) {
  static std::once_flag once;
  static int32_t cachedId = corvale::kLanguageEnglish;
  static int cachedResult = 0;
  std::call_once(once, [] { cachedResult = corvale::ReadLanguageUncached(&cachedId); });
  *id = cachedId;
  return cachedResult;
}

int WriteLanguageToReg(const char* languageName) {
  std::string probe;
  platform::RegistryStatus before =
      platform::RegistryGetString(corvale::kLanguageKey, corvale::kLanguageValue, &probe);
  bool keyExisted =
      before == platform::RegistryStatus::Ok || before == platform::RegistryStatus::ValueMissing;
  int error = 0;
  platform::RegistryStatus status = platform::RegistrySetString(
      corvale::kLanguageKey, corvale::kLanguageValue, languageName ? languageName : "", &error);
  if (status == platform::RegistryStatus::Ok) return 1;
  if (keyExisted)
    LogInfo("Tev : WriteLanguageToReg RegSetValueEx failed with %d\n", error);
  else
    LogInfo("Tev : WriteLanguageToReg RegSetValueEx2 failed with %d\n", error);
  return 0;
}

const corvale::IStringTable* LoadLanguageLibrary(int32_t id) {
  std::unique_ptr<corvale::IStringTable> table = corvale::LoadLanguageTable(id, corvale::LanguageFolder());
  if (!table) return nullptr;
  corvale::LoadedTables& loaded = corvale::Loaded();
  std::lock_guard<std::mutex> lock(loaded.mutex);
  loaded.tables.push_back(std::move(table));
  return loaded.tables.back().get();
}

void FreeLanguageLibrary(const corvale::IStringTable* table) {
  corvale::LoadedTables& loaded = corvale::Loaded();
  std::lock_guard<std::mutex> lock(loaded.mutex);
  for (auto it = loaded.tables.begin(); it != loaded.tables.end(); ++it) {
    if (it->get() == table) {
      loaded.tables.erase(it);
      return;
    }
  }
}
