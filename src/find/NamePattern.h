#pragma once
// File-name patterns as users type them: "*" stands for any run of characters and "?" for exactly
// one, everything else stands for itself. A pattern is turned into a compiled regular expression
// once and then matched against whole names. Names are UTF-8; "?" is one character, not one byte,
// and matching without case folds every script, not only ASCII.
//
// Lists of extensions (".jpg;.jpeg") become one pattern that accepts a name ending in any of them.

#include <memory>
#include <string>

class IFileProperties;

// How a typed name is read.
enum class NamePatternMode {
  kPlain = 0,
  // Find: a word without "*" matches anywhere in the name (unless the whole name is asked for),
  // and a final "?" is read as "*".
  kFind = 1,
  // Search: a final "?" is read as "*" when the text holds no ".".
  kSearch = 2,
};

struct NamePatternRequest {
  std::string text;
  bool caseSensitive = false;
  bool wholeName = false;
  NamePatternMode mode = NamePatternMode::kPlain;
};

class CompiledNameExpression;

class CFileNamePattern {
 public:
  explicit CFileNamePattern(const NamePatternRequest& request);
  ~CFileNamePattern();
  CFileNamePattern(CFileNamePattern&&) noexcept;
  CFileNamePattern& operator=(CFileNamePattern&&) noexcept;

  // Whether the whole of `name` (UTF-8) matches. A name that is not valid UTF-8 never matches.
  bool Matches(const char* name) const;
  const std::string& Text() const { return m_text; }
  bool CaseSensitive() const { return m_caseSensitive; }
  // The wildcard text after the mode's rules and the folding of "*?" runs (what was compiled).
  const std::string& Wildcard() const { return m_wildcard; }

  // The wildcard rules alone: what `request` becomes before it is compiled.
  static std::string Normalize(const NamePatternRequest& request);

 private:
  std::string m_text;
  std::string m_wildcard;
  bool m_caseSensitive;
  std::unique_ptr<CompiledNameExpression> m_expression;
};

class CExtensionListPattern {
 public:
  // Items separated by ";"; empty items are ignored; an empty list accepts every name. Matching
  // never takes case into account.
  explicit CExtensionListPattern(const std::string& list);
  ~CExtensionListPattern();
  CExtensionListPattern(CExtensionListPattern&&) noexcept;
  CExtensionListPattern& operator=(CExtensionListPattern&&) noexcept;

  bool Matches(const char* name) const;
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
  std::unique_ptr<CompiledNameExpression> m_expression;
};

// A whole-name match of the file's name, done only when its properties mark the name valid.
bool MatchFileNamePattern(const CFileNamePattern& pattern, const IFileProperties* properties);
bool MatchExtensionList(const CExtensionListPattern& pattern, const IFileProperties* properties);
