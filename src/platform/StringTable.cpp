#include "platform/StringTable.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace corvale {
namespace {

struct Entry {
  uint32_t id;
  std::string_view text;
};

// Sorted by id, so a lookup is a binary search; the check below keeps it so as texts are added.
constexpr Entry kEnglish[] = {
    {61240,
     "Failed to allocate the memory. Please untick \"Recover RAW file\" in RAW of \"Option\" and try "
     "again."},
};

constexpr bool IdsAscend() {
  for (size_t i = 1; i < std::size(kEnglish); ++i)
    if (kEnglish[i - 1].id >= kEnglish[i].id) return false;
  return true;
}
static_assert(IdsAscend(), "the English texts must be sorted by id, each id once");

}  // namespace

std::string EnglishStringTable::Get(uint32_t id) const {
  auto it = std::lower_bound(std::begin(kEnglish), std::end(kEnglish), id,
                             [](const Entry& e, uint32_t wanted) { return e.id < wanted; });
  if (it == std::end(kEnglish) || it->id != id) return {};
  return std::string(it->text);
}

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
