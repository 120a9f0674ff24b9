#pragma once
// A table of texts by numeric id read from a UTF-8 text file, one text a line:
//
//   346<TAB>Corvale Hard Drive Data Recovery
//   307<TAB>%s has encountered a memory problem and needs to close.\nWe are sorry ...
//
// In the text, \n, \r, \t, \" and \\ stand for their characters. Empty lines and lines starting
// with '#' are skipped. A line that does not hold a decimal id up to 2^32-1, a tab and a text is
// skipped and counted, as is a second line of an id that is already there (the first one holds);
// so is a text with a NUL or a bad escape. The English texts are built into the program from such
// a file; a translation is such a file beside the program.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/RecoveryContext.h"

namespace corvale {

class StringTableFile : public IStringTable {
 public:
  enum class LoadResult { Ok, Missing, Unreadable, TooLarge };

  // No translation comes near this; a bigger file is not one of ours.
  static constexpr size_t kMaxBytes = 4 << 20;

  LoadResult Load(const std::string& path);
  void Parse(std::string_view text);

  std::string Get(uint32_t id) const override;
  size_t Size() const { return m_texts.size(); }
  // Lines that were neither texts nor comments.
  size_t SkippedLines() const { return m_skipped; }

 private:
  std::map<uint32_t, std::string> m_texts;
  size_t m_skipped = 0;
};

}  // namespace corvale
