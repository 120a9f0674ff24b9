#include "platform/StringTable.h"

#include <string_view>

#include "platform/StringTableFile.h"

namespace corvale {
namespace {

// resources/strings/English.txt as bytes, made by the build.
#include "EnglishStrings.inc"

const StringTableFile& EnglishTable() {
  static const StringTableFile* table = [] {
    auto* t = new StringTableFile;
    t->Parse(
        std::string_view(reinterpret_cast<const char*>(kEnglishStringsText), sizeof kEnglishStringsText));
    return t;
  }();
  return *table;
}

}  // namespace

std::string EnglishStringTable::Get(uint32_t id) const { return EnglishTable().Get(id); }

size_t EnglishStringTable::MalformedLines() const { return EnglishTable().SkippedLines(); }

const IStringTable& EnglishStrings() {
  static const EnglishStringTable table;
  return table;
}

std::string LoadText(uint32_t id) {
  if (const IStringTable* language = GetRecoveryContext().LanguageModule) {
    std::string text = language->Get(id);
    if (!text.empty()) return text;
  }
  return EnglishStrings().Get(id);
}

}  // namespace corvale
