#pragma once
// The previews of recovered documents that the general preview does not show: rich text, shown
// formatted in a dialog of its own, and Word and Excel documents, handed to the desktop's viewer.
// ShowFilePreview picks among them and the general preview for the file page.

#include <QDialog>
#include <QString>
#include <string>

class CCopyLimitedRichEditCtrl;

// True when the file starts with "{\rt" (any case) and its last byte that is not CR, LF or NUL
// is "}". Files of 4 bytes or less never are.
bool IsRtfFile(const std::string& path);

// The text of a rich-text document as HTML: paragraphs, bold, italic, underline, font sizes and
// characters given by code (\'hh as Latin-1, \uN); pictures, font and colour tables and other
// hidden groups are left out. Nesting deeper than a fixed bound is read as plain groups.
QString RtfToHtml(const QByteArray& rtf);

// What a document handed to the viewer is, by its contents.
enum class OfficeDocumentKind { kNone, kWord, kExcel, kWordXml, kExcelXml };

// The kind of a compound document by the first of the streams "WordDocument" (Word), "Book" or
// "Workbook" (Excel) found at its top level (names compared without case); kNone for anything else.
OfficeDocumentKind CompoundDocumentKind(const std::string& path);
// True when CompoundDocumentKind finds one of the three streams.
bool IsOfficeCompoundDocument(const std::string& path);
// The kind of a Word or Excel document of the XML formats: a zip archive whose central directory
// lists "word/document.xml" or "xl/workbook.xml"; kNone for anything else.
OfficeDocumentKind OpenXmlDocumentKind(const std::string& path);
// The fixed name a document of `kind` is handed over under: "document" and the kind's extension.
std::string HandOverFileName(OfficeDocumentKind kind);

// Hands a document to the desktop's viewer, for the person who asked for the run: a copy in a folder
// only they can read (platform::HandOverCopy), named by what the file holds (HandOverFileName), never
// by `title`, which came from the disk and would choose the program that opens it. The copy lives as
// long as the program, since the temporary file goes away as soon as the preview returns. The file
// must be a compound document of Word or Excel, or with `skipTest` also one of their XML formats.
// Running as root for nobody known, nothing is copied or started and a message says how to read it
// instead. True when the viewer was started.
bool OpenWithDocpeek(const std::string& path, const std::string& title, bool skipTest);

class CRtfPreviewerDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 305;
  explicit CRtfPreviewerDlg(QWidget* parent = nullptr);
  // Shows the document at `path` with `title` modally.
  int ShowRtfFile(const std::string& path, const std::string& title);
  // Loads the document without showing the dialog.
  void Load(const std::string& path, const std::string& title);
  CCopyLimitedRichEditCtrl* Editor() const { return m_edit; }

 private:
  CCopyLimitedRichEditCtrl* m_edit;
};

// What a preview of the file page ended with.
enum class PreviewOutcome { kShown, kRecoverAsked };
// The file page's preview of the recovered copy at `path` named `name`: rich text, then Word and
// Excel documents (compound documents whatever their name; the XML formats when named .docx or
// .xlsx), then the general preview dialog.
PreviewOutcome ShowFilePreview(QWidget* owner, const std::string& path, const std::string& name);
