#pragma once
// The user-interface language both programs share: kept in the settings store under
// "SOFTWARE\Corvale\TarnRecovery\Language", value "Language" ("Chinese", "English", "Deutsch" or
// "Japanese", matched exactly), with its texts in a translation file beside the program
// ("Chinese.txt", "Deutsch.txt", "Japanese.txt"; StringTableFile.h). English is built in.
//
// Translations are read only from the folder of the executable, never from a search path: both
// programs run with the rights to read every disk, and a text file planted elsewhere must not
// become their user interface.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/RecoveryContext.h"

namespace corvale {

constexpr int32_t kLanguageChinese = 1;
constexpr int32_t kLanguageEnglish = 2;
constexpr int32_t kLanguageDeutsch = 3;
constexpr int32_t kLanguageJapanese = 4;

inline constexpr const char* kLanguageKey = "SOFTWARE\\Corvale\\TarnRecovery\\Language";
inline constexpr const char* kLanguageValue = "Language";

// The id of a stored language name; English (2) for anything that is not exactly one of the four.
int32_t LanguageIdFromName(std::string_view name);
// The stored name of a language id; "English" for an unknown id.
const char* LanguageName(int32_t id);
// The translation file of a language id, or null for English and unknown ids.
const char* LanguageFileName(int32_t id);

// Reads the stored language without the per-process cache of ReadLanguageFromReg. Returns 1 when
// the key exists, 0 otherwise; *id is the language (2 when nothing matched).
int ReadLanguageUncached(int32_t* id);

// The translation of language `id` from `folder` (ending in '/'), or null for English, for an
// unknown id and for a missing or unreadable file.
std::unique_ptr<IStringTable> LoadLanguageTable(int32_t id, const std::string& folder);

// The folder the translations are read from, ending in '/': the executable's folder unless tests
// chose another one. Setting an empty folder goes back to the executable's.
std::string LanguageFolder();
void SetLanguageFolderForTesting(const std::string& folder);

// Whether the program can run in language `id`: English always, another language when its
// translation can be read from LanguageFolder().
bool IsLanguageInstalled(int32_t id);

}  // namespace corvale

// The stored language, read once per process and then kept: returns 1 when the key could be opened,
// 0 otherwise, and leaves the language id (2 when nothing matched) in *id.
int ReadLanguageFromReg(int32_t* id);

// Stores `languageName` as the language; 1 on success. Failures are logged with the error number.
int WriteLanguageToReg(const char* languageName);

// The translation of language `id` from LanguageFolder(), or null (English). The table stays
// until FreeLanguageLibrary is called with it.
const corvale::IStringTable* LoadLanguageLibrary(int32_t id);
void FreeLanguageLibrary(const corvale::IStringTable* table);
