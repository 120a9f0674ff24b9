#include "wizard/controller/MarkupMSXML.h"

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <cerrno>
#include <cstring>

#include "platform/Log.h"
#include "platform/TrustedFile.h"

namespace {

using Element = CMarkupMSXML::Element;

std::string ToStd(QStringView text) { return text.toString().toStdString(); }

bool NameIs(const Element& element, const char* name) { return !name || element.name == name; }

// The index of the first element after `from` (kNone: from the start) named `name`, or `none`.
size_t FindAfter(const Element& parent, size_t from, const char* name, size_t none) {
  for (size_t i = from == none ? 0 : from + 1; i < parent.children.size(); ++i)
    if (NameIs(*parent.children[i], name)) return i;
  return none;
}

void Write(QXmlStreamWriter& writer, const Element& element) {
  writer.writeStartElement(QString::fromStdString(element.name));
  for (const auto& [name, value] : element.attributes)
    writer.writeAttribute(QString::fromStdString(name), QString::fromStdString(value));
  if (!element.text.empty()) writer.writeCharacters(QString::fromStdString(element.text));
  for (const auto& child : element.children) Write(writer, *child);
  writer.writeEndElement();
}

}  // namespace

CMarkupMSXML::CMarkupMSXML() : m_document(std::make_unique<Element>()) { ResetPosition(); }

CMarkupMSXML::~CMarkupMSXML() = default;

void CMarkupMSXML::ResetPosition() {
  m_parent = m_document.get();
  m_current = kNone;
  m_child = kNone;
}

const Element* CMarkupMSXML::Current() const {
  return m_current == kNone ? nullptr : m_parent->children[m_current].get();
}

const Element* CMarkupMSXML::Child() const {
  const Element* current = Current();
  return current && m_child != kNone ? current->children[m_child].get() : nullptr;
}

const Element* CMarkupMSXML::GetDocumentElement() const {
  return m_document->children.empty() ? nullptr : m_document->children.front().get();
}

bool CMarkupMSXML::LoadFile(const std::string& path) {
  m_document = std::make_unique<Element>();
  ResetPosition();
  // The catalogue decides what is looked for and how found files are named: as root it is read only
  // when it is root's and nobody else may change it.
  std::string why;
  const int fd = platform::OpenTrustedFile(path, &why);
  if (fd < 0) {
    RecordParseError((errno == EPERM ? "the file is not used: " : "the file cannot be opened: ") + why, -1,
                     -1);
    return false;
  }
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    RecordParseError("the file cannot be opened: " + file.errorString().toStdString(), -1, -1);
    return false;
  }
  // One byte more than the limit tells an over-long file from one of exactly the limit.
  const QByteArray data = file.read(static_cast<qint64>(kMaxDocumentBytes) + 1);
  if (data.size() > static_cast<qsizetype>(kMaxDocumentBytes)) {
    RecordParseError("the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes", -1, -1);
    return false;
  }
  return Parse(data.toStdString());
}

bool CMarkupMSXML::SetXmlText(const std::string& text) {
  m_document = std::make_unique<Element>();
  ResetPosition();
  m_error.clear();
  m_errorReason.clear();
  if (text.empty()) return true;
  if (text.size() > kMaxDocumentBytes) {
    RecordParseError("the text is larger than " + std::to_string(kMaxDocumentBytes) + " bytes", -1, -1);
    return false;
  }
  return Parse(text);
}

bool CMarkupMSXML::Parse(const std::string& text) {
  m_error.clear();
  m_errorReason.clear();
  QXmlStreamReader reader(QByteArray::fromStdString(text));
  std::vector<Element*> open{m_document.get()};
  size_t elements = 0;
  auto refuse = [&](const std::string& reason) {
    RecordParseError(reason, reader.lineNumber(), reader.columnNumber());
    m_document = std::make_unique<Element>();
    ResetPosition();
    return false;
  };
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::DTD:
        return refuse("document type declarations are not accepted");
      case QXmlStreamReader::EntityReference:
        return refuse("entity references are not accepted");
      case QXmlStreamReader::StartElement: {
        if (++elements > kMaxElements)
          return refuse("more than " + std::to_string(kMaxElements) + " elements");
        if (static_cast<int>(open.size()) > kMaxDepth)
          return refuse("elements nested deeper than " + std::to_string(kMaxDepth));
        auto element = std::make_unique<Element>();
        element->name = ToStd(reader.name());
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
          if (static_cast<size_t>(attribute.value().size()) > kMaxValueChars)
            return refuse("attribute " + ToStd(attribute.name()) + " is longer than " +
                          std::to_string(kMaxValueChars) + " characters");
          element->attributes.emplace_back(ToStd(attribute.name()), ToStd(attribute.value()));
        }
        Element* raw = element.get();
        open.back()->children.push_back(std::move(element));
        open.push_back(raw);
        break;
      }
      case QXmlStreamReader::EndElement:
        if (open.size() > 1) open.pop_back();
        break;
      case QXmlStreamReader::Characters:
        if (open.size() > 1 && !reader.isWhitespace()) {
          Element* element = open.back();
          if (element->text.size() + static_cast<size_t>(reader.text().size()) > kMaxValueChars)
            return refuse("the text of " + element->name + " is longer than " +
                          std::to_string(kMaxValueChars) + " characters");
          element->text += ToStd(reader.text());
        }
        break;
      default:
        break;
    }
  }
  if (reader.hasError()) return refuse(reader.errorString().toStdString());
  if (m_document->children.empty()) return refuse("the document has no element");
  return true;
}

void CMarkupMSXML::RecordParseError(const std::string& reason, long long line, long long column) {
  std::string msg = reason;
  while (!msg.empty() && (msg.back() == '\r' || msg.back() == '\n')) msg.pop_back();
  QString error;
  QXmlStreamWriter writer(&error);
  writer.writeEmptyElement(QStringLiteral("error"));
  writer.writeAttribute(QStringLiteral("msg"), QString::fromStdString(msg));
  if (line >= 0 && column >= 0) {
    writer.writeAttribute(QStringLiteral("line"), QString::number(line));
    writer.writeAttribute(QStringLiteral("linepos"), QString::number(column));
  }
  m_error = error.toStdString();
  m_errorReason = msg;
  if (line >= 0 && column >= 0)
    m_errorReason += " (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
  OutputDebugText("%s\n", m_error.c_str());
}

bool CMarkupMSXML::FindNextElement(const char* name) {
  const size_t found = FindAfter(*m_parent, m_current, name, kNone);
  if (found == kNone) return false;
  m_current = found;
  m_child = kNone;
  return true;
}

bool CMarkupMSXML::FindNextChildElement(const char* name) {
  if (m_current == kNone && !FindNextElement(nullptr)) return false;
  const Element& current = *m_parent->children[m_current];
  const size_t found = FindAfter(current, m_child, name, kNone);
  if (found == kNone) return false;
  m_child = found;
  return true;
}

namespace {
std::string AttributeOf(const Element* element, const char* name) {
  if (!element || !name) return {};
  for (const auto& [key, value] : element->attributes)
    if (key == name) return value;
  return {};
}
}  // namespace

std::string CMarkupMSXML::GetAttribute(const char* name) const { return AttributeOf(Current(), name); }

std::string CMarkupMSXML::GetChildAttribute(const char* name) const { return AttributeOf(Child(), name); }

std::string CMarkupMSXML::GetChildText() const {
  const Element* child = Child();
  return child ? child->text : std::string();
}

std::string CMarkupMSXML::GetChildMarkup() const {
  const Element* child = Child();
  if (!child) return {};
  QString text;
  QXmlStreamWriter writer(&text);
  Write(writer, *child);
  return text.toStdString();
}
