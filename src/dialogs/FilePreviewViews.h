#pragma once
// The two read-only views of the preview dialog: a hex dump and a text view of one file. Neither
// loads the file whole: each keeps the file open and reads it through a window buffer of at most
// 1 MiB, and formats only the lines that fit the window. The dialog moves them with its own scroll
// bar (wheel and keys are handed to that bar) and converts positions between them by byte offset.
//
// The hex view has sixteen bytes a line and needs no index, so it shows files of any size whose
// line count fits the scroll bar. The text view takes files up to 100 MiB. Its line index keeps the
// start of every 256th line only; a line in between is found by walking forward from the nearest
// kept start, so the index of a file of short lines stays small.
//
// The hex view's lines hold tabs between their columns. Its tab stops are set per line, from the
// width of a digit, so that the header's column numbers stand over their bytes and the text column
// of a full line and of the shorter last line start at the same place, all within the view.

#include <QTextEdit>
#include <cstdint>
#include <string>
#include <vector>

class QScrollBar;

// A file kept open and read through a window buffer.
class CPreviewFileWindow {
 public:
  static constexpr size_t kWindowBytes = 1 << 20;

  CPreviewFileWindow() = default;
  ~CPreviewFileWindow();
  CPreviewFileWindow(const CPreviewFileWindow&) = delete;
  CPreviewFileWindow& operator=(const CPreviewFileWindow&) = delete;

  // Opens `path` and reads its first window. False (and closed) when it cannot be read or is larger
  // than `maxSize`.
  bool Open(const std::string& path, uint64_t maxSize);
  void Close();
  uint64_t Size() const { return m_size; }
  // The bytes [offset, offset + n), n at most kWindowBytes; null when the file does not have them.
  const uint8_t* Fetch(uint64_t offset, size_t n);

 private:
  int m_fd = -1;
  uint64_t m_size = 0;
  std::vector<uint8_t> m_buffer;
  uint64_t m_start = 0;  // file offset of m_buffer[0]
  uint64_t m_end = 0;    // file offset just past the buffer's valid bytes
};

class CFilePreViewEdit : public QTextEdit {
  Q_OBJECT

 public:
  explicit CFilePreViewEdit(QWidget* parent = nullptr);

  // Opens the file and builds the line structure; false (and the view empty) when it cannot.
  virtual bool Load(const std::string& path) = 0;
  // The text of the lines from `first` on that fit the view (the first line clamped so that a full
  // page shows); empty without lines.
  virtual QString RenderText(int64_t first) = 0;
  virtual int64_t OffsetToLine(uint64_t offset) = 0;
  virtual uint64_t LineToOffset(int64_t line) = 0;

  int64_t GetLineCount() const { return m_lineCount; }
  int GetVisibleLines() const { return m_visibleLines; }
  void SetVisibleLines(int lines) { m_visibleLines = lines < 1 ? 1 : lines; }
  uint64_t GetFileSize() const { return m_file.Size(); }
  // Shows the lines from `first` on.
  void Render(int64_t first);
  // The bar that receives the wheel and navigation keys.
  void SetForwardBar(QScrollBar* bar) { m_forward = bar; }
  // The first line shown for a request of `first` (a full page where the file has one).
  int64_t ClampFirstLine(int64_t first) const;

 signals:
  void VisibleLinesChanged();

 protected:
  virtual int HeaderLines() const { return 0; }
  // Called after the shown text was put into the view: the place to format its lines.
  virtual void FormatShownLines() {}
  void RecomputeVisibleLines();
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void Clear();

  CPreviewFileWindow m_file;
  int64_t m_lineCount = 0;
  int m_visibleLines = 1;
  QScrollBar* m_forward = nullptr;
};

class CHexFilePreViewEdit : public CFilePreViewEdit {
  Q_OBJECT

 public:
  static constexpr int kBytesPerLine = 16;
  // Largest file shown: as many lines as a scroll bar can count.
  static constexpr uint64_t kMaxFileSize = uint64_t{0x7fffffff} * kBytesPerLine;

  explicit CHexFilePreViewEdit(QWidget* parent = nullptr);
  bool Load(const std::string& path) override;
  QString RenderText(int64_t first) override;
  int64_t OffsetToLine(uint64_t offset) override;
  uint64_t LineToOffset(int64_t line) override;

  // The x of the left edge of column `column` of shown line `line` (0 the header, then the file's
  // lines as shown), in viewport pixels: column 0 the offset, 1 to 16 the bytes (on the header their
  // numbers), 17 the text. -1 when there is no such line or column.
  int ColumnX(int line, int column) const;
  // The x just past the end of shown line `line`'s text, in viewport pixels; -1 without such a line.
  int LineEndX(int line) const;

 protected:
  int HeaderLines() const override { return 1; }
  void FormatShownLines() override;

 private:
  enum class LineKind { Header, Full, Short };
  std::vector<LineKind> m_shownKinds;
};

class CTextFilePreViewEdit : public CFilePreViewEdit {
  Q_OBJECT

 public:
  static constexpr uint64_t kMaxFileSize = 104857600;
  // A line without a line feed wraps after this many bytes (one more on the file's first line).
  static constexpr uint32_t kWrapBytes = 159;
  // One line start is kept for every kLinesPerMark lines.
  static constexpr int64_t kLinesPerMark = 256;

  enum class Encoding { Latin1, Utf8, Utf16Le, Utf16Be };

  explicit CTextFilePreViewEdit(QWidget* parent = nullptr);
  bool Load(const std::string& path) override;
  QString RenderText(int64_t first) override;
  int64_t OffsetToLine(uint64_t offset) override;
  uint64_t LineToOffset(int64_t line) override;

  Encoding GetEncoding() const { return m_encoding; }
  // The kept line starts (for measuring what the index holds).
  size_t IndexEntries() const { return m_marks.size(); }
  // Guesses the encoding from a file's first bytes: a byte-order mark, else valid UTF-8, else Latin-1.
  static Encoding DetectEncoding(const uint8_t* data, size_t size, bool complete);

 private:
  // The start of the line after the one that starts at `start`.
  uint64_t NextLineStart(uint64_t start);
  // The first line start of `line`.
  uint64_t StartOfLine(int64_t line);
  QString Decode(const uint8_t* data, size_t size) const;

  Encoding m_encoding = Encoding::Latin1;
  uint64_t m_textStart = 0;       // past the byte-order mark
  std::vector<uint32_t> m_marks;  // start of line k * kLinesPerMark
};
