#include "find/NamePattern.h"

#include <boost/regex/icu.hpp>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "core/FileProperties.h"

class CompiledNameExpression {
 public:
  CompiledNameExpression(const std::string& expression, bool caseSensitive)
      : m_regex(boost::make_u32regex(expression.c_str(), caseSensitive ? boost::regex_constants::perl
                                                                       : boost::regex_constants::perl |
                                                                             boost::regex_constants::icase)),
        m_any(expression == "(?s).*") {}

  bool Matches(const char* name) const {
    if (name == nullptr) return false;
    // "*" takes every name, also one whose bytes are not UTF-8.
    if (m_any) return true;
    try {
      // Whole names only; a name that is not UTF-8 throws while it is decoded.
      const bool match = boost::u32regex_match(name, m_regex, boost::match_any);
      return match;
    } catch (...) {
      return false;
    }
  }

 private:
  boost::u32regex m_regex;
  bool m_any;
};

namespace {

constexpr const char* kAnyName = "(?s).*";

// Decodes one UTF-8 character at `s[*i]`; throws on a broken sequence.
uint32_t NextCodePoint(const std::string& s, size_t* i) {
  const auto byte = [&](size_t k) -> uint8_t {
    if (k >= s.size()) throw std::invalid_argument("short UTF-8 sequence");
    return static_cast<uint8_t>(s[k]);
  };
  const uint8_t lead = byte(*i);
  int extra = 0;
  uint32_t cp = 0;
  if (lead < 0x80) {
    cp = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    cp = lead & 0x1F, extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    cp = lead & 0x0F, extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    cp = lead & 0x07, extra = 3;
  } else {
    throw std::invalid_argument("bad UTF-8 lead byte");
  }
  for (int k = 1; k <= extra; ++k) {
    const uint8_t next = byte(*i + k);
    if ((next & 0xC0) != 0x80) throw std::invalid_argument("bad UTF-8 continuation");
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) throw std::invalid_argument("bad code point");
  *i += 1 + extra;
  return cp;
}

// Every character of the wildcard text that is not "*" or "?" stands for itself: it is written as a
// code-point escape, so no character of a name can ever act as expression syntax. "*" and "?" match
// any character, including those some file systems allow and others do not.
std::string ToExpression(const std::string& wildcard) {
  std::string out = "(?s)";
  char escape[16];
  for (size_t i = 0; i < wildcard.size();) {
    const char c = wildcard[i];
    if (c == '*') {
      out += ".*";
      ++i;
    } else if (c == '?') {
      out += '.';
      ++i;
    } else {
      std::snprintf(escape, sizeof escape, "\\x{%X}", NextCodePoint(wildcard, &i));
      out += escape;
    }
  }
  return out;
}

// Replaces every run of stars followed by question marks, of question marks followed by stars, and
// of stars alone by one star, scanning from the left as a leftmost regular-expression replace would.
std::string FoldStarRuns(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '*') {
      while (i < text.size() && text[i] == '*') ++i;
      while (i < text.size() && text[i] == '?') ++i;
      out += '*';
    } else if (text[i] == '?') {
      size_t j = i;
      while (j < text.size() && text[j] == '?') ++j;
      if (j < text.size() && text[j] == '*') {
        while (j < text.size() && text[j] == '*') ++j;
        out += '*';
        i = j;
      } else {
        out += '?';
        ++i;
      }
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::unique_ptr<CompiledNameExpression> CompileOrAcceptAll(const std::string& expression,
                                                           bool caseSensitive) {
  try {
    return std::make_unique<CompiledNameExpression>(expression, caseSensitive);
  } catch (...) {
    return std::make_unique<CompiledNameExpression>(kAnyName, caseSensitive);
  }
}

}  // namespace

std::string CFileNamePattern::Normalize(const NamePatternRequest& request) {
  std::string text = request.text;
  if (request.mode == NamePatternMode::kFind && text.find('*') == std::string::npos && !request.wholeName) {
    if (text.empty() || text.front() != '?') text.insert(text.begin(), '*');
    text += '*';
  }
  // One pass can leave stars side by side ("**?*" gives "**"); fold until nothing changes.
  for (std::string folded = FoldStarRuns(text); folded != text; folded = FoldStarRuns(text)) text = folded;
  if (!text.empty() && text.back() == '?') {
    if (request.mode == NamePatternMode::kFind ||
        (request.mode == NamePatternMode::kSearch && text.find('.') == std::string::npos))
      text.back() = '*';
  }
  return text;
}

CFileNamePattern::CFileNamePattern(const NamePatternRequest& request)
    : m_text(request.text), m_caseSensitive(request.caseSensitive) {
  std::string expression;
  try {
    m_wildcard = Normalize(request);
    expression = ToExpression(m_wildcard);
  } catch (...) {
    m_wildcard = "*";
    expression = kAnyName;
  }
  m_expression = CompileOrAcceptAll(expression, m_caseSensitive);
}

CFileNamePattern::~CFileNamePattern() = default;
CFileNamePattern::CFileNamePattern(CFileNamePattern&&) noexcept = default;
CFileNamePattern& CFileNamePattern::operator=(CFileNamePattern&&) noexcept = default;

bool CFileNamePattern::Matches(const char* name) const { return m_expression->Matches(name); }

CExtensionListPattern::CExtensionListPattern(const std::string& list) : m_text(list) {
  std::string expression;
  try {
    std::string alternatives;
    size_t start = 0;
    const std::string text = list.empty() ? std::string("*") : list;
    while (start <= text.size()) {
      size_t end = text.find(';', start);
      if (end == std::string::npos) end = text.size();
      const std::string item = text.substr(start, end - start);
      if (!item.empty()) {
        if (!alternatives.empty()) alternatives += '|';
        // Each item must end the name; its own "*" and "?" keep their wildcard meaning.
        alternatives += "(?:.*" + ToExpression(item).substr(4) + ")";
      }
      start = end + 1;
    }
    expression = alternatives.empty() ? std::string(kAnyName) : "(?s)" + alternatives;
  } catch (...) {
    expression = kAnyName;
  }
  m_expression = CompileOrAcceptAll(expression, false);
}

CExtensionListPattern::~CExtensionListPattern() = default;
CExtensionListPattern::CExtensionListPattern(CExtensionListPattern&&) noexcept = default;
CExtensionListPattern& CExtensionListPattern::operator=(CExtensionListPattern&&) noexcept = default;

bool CExtensionListPattern::Matches(const char* name) const { return m_expression->Matches(name); }

bool MatchFileNamePattern(const CFileNamePattern& pattern, const IFileProperties* properties) {
  if (properties == nullptr || (properties->GetValidMask() & 0x01) == 0) return false;
  return pattern.Matches(properties->GetName());
}

bool MatchExtensionList(const CExtensionListPattern& pattern, const IFileProperties* properties) {
  if (properties == nullptr || (properties->GetValidMask() & 0x01) == 0) return false;
  return pattern.Matches(properties->GetName());
}
