#pragma once
// The program's texts by numeric id. English is built in from resources/strings/English.txt, where
// later features add their texts; a language loaded at start-up (Language.h) is put in the recovery
// options (LanguageModule) and asked first.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/RecoveryContext.h"

namespace corvale {

// The built-in English texts.
class EnglishStringTable : public IStringTable {
 public:
  std::string Get(uint32_t id) const override;
  // Lines of the built-in file that are neither texts nor comments (a build with a broken line).
  size_t MalformedLines() const;
};

// The one English table of the process.
const IStringTable& EnglishStrings();

// Text `id` in the user's language: from the loaded language's table when there is one and it has
// the text, else the English text; empty when neither has it.
std::string LoadText(uint32_t id);

// Ids of texts used by the platform layer.
constexpr uint32_t kStringOutOfMemoryWithRaw = 61240;

}  // namespace corvale
