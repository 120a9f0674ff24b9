#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"

namespace {

class FakeLanguage : public corvale::IStringTable {
 public:
  std::string Get(uint32_t id) const override {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  std::map<uint32_t, std::string> texts;
};

TEST(StringTable, EnglishHoldsTheOutOfMemoryAdvice) {
  EXPECT_EQ(corvale::EnglishStrings().Get(corvale::kStringOutOfMemoryWithRaw),
            "Failed to allocate the memory. Please untick \"Recover RAW file\" in RAW of \"Option\" and try "
            "again. ");
  EXPECT_EQ(corvale::EnglishStrings().Get(1), "");
}

TEST(StringTable, LoadedLanguageFirstThenEnglish) {
  CRecoveryContext& context = GetRecoveryContext();
  const corvale::IStringTable* saved = context.LanguageModule;
  FakeLanguage german;
  german.texts[7] = "Sieben";
  context.LanguageModule = &german;
  EXPECT_EQ(corvale::LoadText(7), "Sieben");
  // A text the language lacks is shown in English rather than as nothing.
  EXPECT_EQ(corvale::LoadText(61240), corvale::EnglishStrings().Get(61240));
  EXPECT_EQ(corvale::LoadText(8), "");
  context.LanguageModule = nullptr;
  EXPECT_EQ(corvale::LoadText(7), "");
  EXPECT_EQ(corvale::LoadText(61240), corvale::EnglishStrings().Get(61240));
  context.LanguageModule = saved;
}

}  // namespace
