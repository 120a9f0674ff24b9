#pragma once
// A small cursor-style reader of XML documents, all the file-type catalogue needs to walk
// "FileFilter.xml". The text is read with Qt's stream reader into a tree of elements held by the
// reader; the cursor has three positions:
// - the parent, whose children are being walked (at first the document itself);
// - the current element, found last among the parent's children;
// - the child, found last among the current element's children.
// A search that fails leaves every position as it was, so a later search goes on after the last
// match.
//
// The catalogue is a file anyone can edit, so the reader takes no more than a catalogue needs and
// refuses the rest as a parse error: documents over kMaxDocumentBytes, elements nested deeper than
// kMaxDepth, more than kMaxElements elements, attribute values or texts longer than kMaxValueChars,
// and any document type declaration (no entities are expanded). A refused or malformed text gives
// an error text of the form <error msg="..." line="..." linepos="..."/>.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CMarkupMSXML {
 public:
  static constexpr size_t kMaxDocumentBytes = 1024 * 1024;
  static constexpr int kMaxDepth = 32;
  static constexpr size_t kMaxElements = 100000;
  static constexpr size_t kMaxValueChars = 4096;

  CMarkupMSXML();
  virtual ~CMarkupMSXML();
  CMarkupMSXML(const CMarkupMSXML&) = delete;
  CMarkupMSXML& operator=(const CMarkupMSXML&) = delete;

  // Reads the file at `path`; false, with the error text set, when it cannot be read or parsed, or
  // when, running as root, it is not root's or others may change it (platform::OpenTrustedFile).
  bool LoadFile(const std::string& path);
  // Reads `text`; an empty text gives an empty document (true), in which every search fails.
  bool SetXmlText(const std::string& text);

  // Finds the next element named `name` (any element for null) among the parent's children, after
  // the current position or from the first child; it becomes the current position and the child
  // position is cleared.
  bool FindNextElement(const char* name);
  // Finds the next element named `name` (any for null) among the current element's children,
  // after the child position; it becomes the child position. Without a current element, the first
  // element of the parent is taken first.
  bool FindNextChildElement(const char* name);

  // The attribute of the current element or of the child; "" when absent or without a position.
  std::string GetAttribute(const char* name) const;
  std::string GetChildAttribute(const char* name) const;
  // The text content of the child element; "" without a child.
  std::string GetChildText() const;
  // The XML text of the child element with its whole subtree; "" without a child.
  std::string GetChildMarkup() const;

  // The last parse error as a small XML text; empty after a successful read.
  const std::string& GetError() const { return m_error; }
  // The same in words: the reason, and where it was found when known.
  const std::string& GetErrorReason() const { return m_errorReason; }

  struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<std::unique_ptr<Element>> children;
  };
  // The document element, or null for an empty or unread document.
  const Element* GetDocumentElement() const;

 private:
  void ResetPosition();
  bool Parse(const std::string& text);
  void RecordParseError(const std::string& reason, long long line, long long column);

  const Element* Current() const;
  const Element* Child() const;

  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::unique_ptr<Element> m_document;  // a nameless node whose children are the top elements
  Element* m_parent = nullptr;
  size_t m_current = kNone;  // index among the parent's children
  size_t m_child = kNone;    // index among the current element's children
  std::string m_error;
  std::string m_errorReason;
};
