// Every text the program shows by its number has an English text: the ids are read from the
// sources as they are at test time (the calls of the text loaders with a literal number, and the
// named text and message numbers), so a text added to the code without its line in the table is
// found here rather than as an empty message box.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "platform/StringTable.h"

namespace fs = std::filesystem;

namespace {

// Where each id was found, for the failure message.
using IdPlaces = std::map<uint32_t, std::set<std::string>>;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads a text number (3 to 5 digits, an optional 'u') at text[*at], moving past it; 0 if none.
uint32_t ReadId(const std::string& text, size_t* at) {
  size_t i = *at;
  while (i < text.size() && text[i] == ' ') ++i;
  const size_t first = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i - first < 3 || i - first > 5) return 0;
  const uint32_t id = static_cast<uint32_t>(std::stoul(text.substr(first, i - first)));
  if (i < text.size() && text[i] == 'u') ++i;
  *at = i;
  return id;
}

// Calls `name(` with a literal number as the first argument.
void CollectCalls(const std::string& text, const std::string& name, const std::string& place, IdPlaces& ids) {
  const std::string call = name + "(";
  for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
    if (at > 0 && IsWordChar(text[at - 1])) continue;
    size_t i = at + call.size();
    const uint32_t id = ReadId(text, &i);
    while (i < text.size() && text[i] == ' ') ++i;
    if (id != 0 && i < text.size() && (text[i] == ',' || text[i] == ')')) ids[id].insert(place);
  }
}

// Constants kString... = N and k...Message = N.
void CollectNamedNumbers(const std::string& text, const std::string& place, IdPlaces& ids) {
  for (size_t at = text.find('='); at != std::string::npos; at = text.find('=', at + 1)) {
    size_t end = at;
    while (end > 0 && text[end - 1] == ' ') --end;
    size_t begin = end;
    while (begin > 0 && IsWordChar(text[begin - 1])) --begin;
    const std::string name = text.substr(begin, end - begin);
    const bool named = name.rfind("kString", 0) == 0 || (name.size() > 8 && name[0] == 'k' &&
                                                         name.compare(name.size() - 7, 7, "Message") == 0);
    if (!named || (at + 1 < text.size() && text[at + 1] == '=')) continue;
    size_t i = at + 1;
    const uint32_t id = ReadId(text, &i);
    if (id != 0 && i < text.size() && text[i] == ';') ids[id].insert(place);
  }
}

// The text numbers the sources use. The loaders are the functions that turn a number into a text
// (the table's own LoadText and LoadStringResource, and the pages' and dialogs' helpers that add a
// fallback or show the text at once); a named number is a constant kString... or k...Message.
IdPlaces TextIdsInSources(const fs::path& sources) {
  static const char* const kLoaders[] = {
      "LoadText", "LoadStringResource", "StringOr", "StringOrUtf8", "TextOr", "ImageText",
      "Text",     "Resource",           "String",   "Tell"};
  IdPlaces ids;
  for (const auto& entry : fs::recursive_directory_iterator(sources)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
    const std::string text = ReadFile(entry.path());
    const std::string place = fs::relative(entry.path(), sources).string();
    for (const char* loader : kLoaders) CollectCalls(text, loader, place, ids);
    CollectNamedNumbers(text, place, ids);
  }
  return ids;
}

}  // namespace

TEST(StringIds, EveryTextTheCodeShowsByNumberIsInTheEnglishTable) {
  const IdPlaces ids = TextIdsInSources(fs::path(CORVALE_SOURCE_DIR) / "src");
  // The reading of the sources itself: it must see the loaders' calls, among them the message of a
  // refused result bundle and the caution against saving to the source.
  ASSERT_GT(ids.size(), 150u);
  for (uint32_t known : {61239u, 147u, 61248u}) EXPECT_TRUE(ids.count(known)) << known;

  const corvale::IStringTable& english = corvale::EnglishStrings();
  for (const auto& [id, places] : ids) {
    std::string where;
    for (const std::string& place : places) where += " " + place;
    EXPECT_FALSE(english.Get(id).empty())
        << "text " << id << " is used by" << where << " but has no line in resources/strings/English.txt";
  }
}
