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

// True when the file is a compound document holding, at its top level, a stream "WordDocument",
// "Book" or "Workbook" (names compared without case).
bool IsOfficeCompoundDocument(const std::string& path);

// Hands a document to the desktop's viewer. The viewer gets a copy named after `title` (so that it
// can tell the kind by the extension) in a private folder that lives as long as the program, since
// the temporary copy goes away as soon as the preview returns. Unless `skipTest`, the file must pass
// IsOfficeCompoundDocument first. True when the desktop took it.
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
// Excel documents, then the general preview dialog.
PreviewOutcome ShowFilePreview(QWidget* owner, const std::string& path, const std::string& name);
