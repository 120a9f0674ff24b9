#include "dialogs/FilePreviewViews.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QWheelEvent>
#include <algorithm>
#include <cerrno>
#include <cstring>

// ---- the file window ----

CPreviewFileWindow::~CPreviewFileWindow() { Close(); }

void CPreviewFileWindow::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_size = m_start = m_end = 0;
  m_buffer.clear();
  m_buffer.shrink_to_fit();
}

bool CPreviewFileWindow::Open(const std::string& path, uint64_t maxSize) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > maxSize) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_size = static_cast<uint64_t>(st.st_size);
  m_buffer.resize(static_cast<size_t>(std::min<uint64_t>(m_size, kWindowBytes)));
  if (m_size > 0 && Fetch(0, m_buffer.size()) == nullptr) {
    Close();
    return false;
  }
  return true;
}

const uint8_t* CPreviewFileWindow::Fetch(uint64_t offset, size_t n) {
  if (m_fd < 0 || n > m_buffer.size() || offset > m_size || n > m_size - offset) return nullptr;
  if (offset >= m_start && offset + n <= m_end) return m_buffer.data() + (offset - m_start);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_size - offset));
  size_t have = 0;
  while (have < want) {
    const ssize_t got = ::pread(m_fd, m_buffer.data() + have, want - have, static_cast<off_t>(offset + have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  m_start = offset;
  m_end = offset + have;
  return have >= n ? m_buffer.data() : nullptr;
}

// ---- the shared view ----

CFilePreViewEdit::CFilePreViewEdit(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setAcceptRichText(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  setLineWrapMode(QTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setUndoRedoEnabled(false);
  QFont font(QStringLiteral("Monospace"));
  font.setStyleHint(QFont::TypeWriter);
  setFont(font);
  // Tab stops of 15 dialog units (a dialog unit is a quarter of the average character width).
  setTabStopDistance(fontMetrics().averageCharWidth() * 15.0 / 4.0);
}

void CFilePreViewEdit::Clear() {
  m_file.Close();
  m_lineCount = 0;
  clear();
}

int64_t CFilePreViewEdit::ClampFirstLine(int64_t first) const {
  if (first + m_visibleLines > m_lineCount) first = m_lineCount - m_visibleLines;
  return first < 0 ? 0 : first;
}

void CFilePreViewEdit::Render(int64_t first) {
  if (m_lineCount <= 0) return;
  setPlainText(RenderText(first));
  FormatShownLines();
}

void CFilePreViewEdit::RecomputeVisibleLines() {
  const int spacing = std::max(1, fontMetrics().lineSpacing());
  const int old = m_visibleLines;
  SetVisibleLines(viewport()->height() / spacing - HeaderLines());
  if (old != m_visibleLines) emit VisibleLinesChanged();
}

void CFilePreViewEdit::resizeEvent(QResizeEvent* event) {
  QTextEdit::resizeEvent(event);
  RecomputeVisibleLines();
}

void CFilePreViewEdit::wheelEvent(QWheelEvent* event) {
  if (m_forward != nullptr)
    m_forward->triggerAction(event->angleDelta().y() <= 0 ? QAbstractSlider::SliderSingleStepAdd
                                                          : QAbstractSlider::SliderSingleStepSub);
  event->accept();
}

void CFilePreViewEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      if (m_forward != nullptr) {
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
        QCoreApplication::sendEvent(m_forward, &copy);
      }
      event->accept();
      return;
    default:
      // Copying a selection stays possible; nothing else changes the text.
      QTextEdit::keyPressEvent(event);
  }
}

// ---- hex ----

CHexFilePreViewEdit::CHexFilePreViewEdit(QWidget* parent) : CFilePreViewEdit(parent) {}

bool CHexFilePreViewEdit::Load(const std::string& path) {
  Clear();
  if (!m_file.Open(path, kMaxFileSize)) return false;
  m_lineCount = static_cast<int64_t>((m_file.Size() + kBytesPerLine - 1) / kBytesPerLine);
  return true;
}

QString CHexFilePreViewEdit::RenderText(int64_t first) {
  m_shownKinds.clear();
  if (m_lineCount <= 0) return {};
  const int64_t from = ClampFirstLine(first);
  const int64_t to = std::min<int64_t>(from + m_visibleLines, m_lineCount);
  std::string text = "Offset  \t\t\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF";
  m_shownKinds.push_back(LineKind::Header);
  char cell[32];
  for (int64_t line = from; line < to; ++line) {
    const uint64_t offset = static_cast<uint64_t>(line) * kBytesPerLine;
    const size_t have = static_cast<size_t>(std::min<uint64_t>(kBytesPerLine, m_file.Size() - offset));
    const uint8_t* bytes = m_file.Fetch(offset, have);
    if (bytes == nullptr) continue;  // unreadable now: the line is left out
    m_shownKinds.push_back(have < kBytesPerLine ? LineKind::Short : LineKind::Full);
    std::snprintf(cell, sizeof cell, "\n%08llX\t\t", static_cast<unsigned long long>(offset));
    text += cell;
    for (size_t i = 0; i < kBytesPerLine; ++i) {
      if (i < have) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        text += cell;
        if (have < kBytesPerLine || i + 1 < kBytesPerLine) text += '\t';
      } else {
        text += " \t";
      }
    }
    text += "\t\t";
    for (size_t i = 0; i < have; ++i)
      text += bytes[i] < 30 || bytes[i] >= 0x7f ? '.' : static_cast<char>(bytes[i]);
  }
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

// Where the hex view's columns start, in digit widths: the offset, the sixteen bytes three digits
// apart, a stop after the bytes and the text column.
constexpr double kFirstByteColumn = 10;
constexpr double kByteColumnWidth = 3;
constexpr double kAfterBytes = kFirstByteColumn + 16 * kByteColumnWidth;  // 58
constexpr double kTextColumn = kAfterBytes + 2;                           // 60
constexpr double kTextEnd = kTextColumn + 17;

}  // namespace

void CHexFilePreViewEdit::FormatShownLines() {
  // The lines reach their columns through tabs: a full line has two after its offset, one after each
  // byte but the last and two before its text; the last, shorter line one after every byte cell
  // (empty cells too) and two more; the header three after "Offset  " and one after each number.
  // Each kind of line gets the stops that bring those tabs to the same columns.
  const double digit = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'));
  auto stop = [digit](double columns) { return QTextOption::Tab(columns * digit, QTextOption::LeftTab); };
  QList<QTextOption::Tab> bytes;
  for (int i = 0; i < 16; ++i) bytes << stop(kFirstByteColumn + i * kByteColumnWidth);
  QList<QTextOption::Tab> header = {stop(8.5), stop(9)};
  header << bytes;
  QList<QTextOption::Tab> full = {stop(9)};
  full << bytes << stop(kAfterBytes) << stop(kTextColumn) << stop(kTextEnd);
  QList<QTextOption::Tab> shortLine = {stop(9)};
  shortLine << bytes << stop(kAfterBytes) << stop(kAfterBytes + 1) << stop(kTextColumn) << stop(kTextEnd);

  QTextCursor cursor(document());
  QTextBlock block = document()->firstBlock();
  for (size_t i = 0; i < m_shownKinds.size() && block.isValid(); ++i, block = block.next()) {
    QTextBlockFormat format = block.blockFormat();
    format.setTabPositions(m_shownKinds[i] == LineKind::Header ? header
                           : m_shownKinds[i] == LineKind::Full ? full
                                                               : shortLine);
    cursor.setPosition(block.position());
    cursor.setBlockFormat(format);
  }
}

int CHexFilePreViewEdit::ColumnX(int line, int column) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid() || column < 0 || column > 17) return -1;
  // Column c begins after the c-th run of tabs.
  const QString text = block.text();
  int at = 0;
  for (int runs = 0; runs < column; ++runs) {
    while (at < text.size() && text[at] != QLatin1Char('\t')) ++at;
    if (at >= text.size()) return -1;
    while (at < text.size() && text[at] == QLatin1Char('\t')) ++at;
  }
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + at);
  return cursorRect(cursor).left();
}

int CHexFilePreViewEdit::LineEndX(int line) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return -1;
  QString text = block.text();
  int end = text.size();
  while (end > 0 && text[end - 1] == QLatin1Char('\t')) --end;
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + end);
  return cursorRect(cursor).left();
}

int64_t CHexFilePreViewEdit::OffsetToLine(uint64_t offset) {
  return offset >= m_file.Size() ? 0 : static_cast<int64_t>(offset / kBytesPerLine);
}

uint64_t CHexFilePreViewEdit::LineToOffset(int64_t line) {
  return line < 0 || line >= m_lineCount ? 0 : static_cast<uint64_t>(line) * kBytesPerLine;
}

// ---- text ----

namespace {

// True when `data` is valid UTF-8; a sequence cut off at the end counts as valid unless `complete`.
bool IsUtf8(const uint8_t* data, size_t size, bool complete) {
  size_t i = 0;
  while (i < size) {
    const uint8_t b = data[i];
    size_t extra = 0;
    uint32_t least = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xe0) == 0xc0) {
      extra = 1, least = 0x80;
    } else if ((b & 0xf0) == 0xe0) {
      extra = 2, least = 0x800;
    } else if ((b & 0xf8) == 0xf0) {
      extra = 3, least = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= size) {
      // The sequence runs past the end.
      if (complete) return false;
      for (size_t k = i + 1; k < size; ++k)
        if ((data[k] & 0xc0) != 0x80) return false;
      return true;
    }
    uint32_t cp = b & (0x3f >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if ((data[i + k] & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (data[i + k] & 0x3f);
    }
    if (cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

CTextFilePreViewEdit::CTextFilePreViewEdit(QWidget* parent) : CFilePreViewEdit(parent) {}

CTextFilePreViewEdit::Encoding CTextFilePreViewEdit::DetectEncoding(const uint8_t* data, size_t size,
                                                                    bool complete) {
  if (size >= 3 && data[0] == 0xef && data[1] == 0xbb && data[2] == 0xbf) return Encoding::Utf8;
  if (size >= 2 && data[0] == 0xff && data[1] == 0xfe) return Encoding::Utf16Le;
  if (size >= 2 && data[0] == 0xfe && data[1] == 0xff) return Encoding::Utf16Be;
  return IsUtf8(data, size, complete) ? Encoding::Utf8 : Encoding::Latin1;
}

bool CTextFilePreViewEdit::Load(const std::string& path) {
  Clear();
  m_marks.clear();
  m_marks.shrink_to_fit();
  if (!m_file.Open(path, kMaxFileSize)) return false;
  const uint64_t size = m_file.Size();
  if (size == 0) return true;  // no lines
  const size_t head = static_cast<size_t>(std::min<uint64_t>(size, CPreviewFileWindow::kWindowBytes));
  const uint8_t* bytes = m_file.Fetch(0, head);
  if (bytes == nullptr) {
    Clear();
    return false;
  }
  m_encoding = DetectEncoding(bytes, head, head == size);
  m_textStart = 0;
  if (m_encoding == Encoding::Utf8 && head >= 3 && bytes[0] == 0xef) m_textStart = 3;
  if (m_encoding == Encoding::Utf16Le || m_encoding == Encoding::Utf16Be) m_textStart = 2;
  int64_t lines = 0;
  for (uint64_t at = m_textStart; at < size; ++lines) {
    if (lines % kLinesPerMark == 0) m_marks.push_back(static_cast<uint32_t>(at));
    const uint64_t next = NextLineStart(at);
    if (next <= at) break;  // the file shrank under us
    at = next;
  }
  m_lineCount = lines;
  return true;
}

uint64_t CTextFilePreViewEdit::NextLineStart(uint64_t start) {
  const uint64_t size = m_file.Size();
  if (start >= size) return size;
  const bool wide = m_encoding == Encoding::Utf16Le || m_encoding == Encoding::Utf16Be;
  uint64_t limit = start == m_textStart ? kWrapBytes + 1 : kWrapBytes;
  if (wide) limit &= ~uint64_t{1};
  const size_t n = static_cast<size_t>(std::min<uint64_t>(limit, size - start));
  // One byte more where there is one, to see whether the wrap would cut a character.
  const size_t fetch = start + n < size ? n + 1 : n;
  const uint8_t* bytes = m_file.Fetch(start, fetch);
  if (bytes == nullptr) return size;
  if (wide) {
    const int lf = m_encoding == Encoding::Utf16Le ? 0 : 1;
    for (size_t i = 0; i + 1 < n; i += 2)
      if (bytes[i + lf] == 0x0a && bytes[i + 1 - lf] == 0) return start + i + 2;
  } else if (const void* lf = std::memchr(bytes, '\n', n)) {
    return start + (static_cast<const uint8_t*>(lf) - bytes) + 1;
  }
  if (start + n >= size) return size;
  size_t cut = n;
  if (m_encoding == Encoding::Utf8) {
    // Never inside a multi-byte sequence: back to its lead byte.
    for (int back = 0; back < 3 && cut > 1 && (bytes[cut] & 0xc0) == 0x80; ++back) --cut;
  } else if (wide && cut >= 4) {
    const int hi = m_encoding == Encoding::Utf16Le ? 1 : 0;
    // Never between the two halves of a surrogate pair.
    if ((bytes[cut - 2 + hi] & 0xfc) == 0xd8) cut -= 2;
  }
  return start + cut;
}

uint64_t CTextFilePreViewEdit::StartOfLine(int64_t line) {
  if (line < 0 || line >= m_lineCount || m_marks.empty()) return 0;
  const size_t mark = static_cast<size_t>(line / kLinesPerMark);
  uint64_t at = m_marks[std::min(mark, m_marks.size() - 1)];
  for (int64_t k = static_cast<int64_t>(mark) * kLinesPerMark; k < line; ++k) at = NextLineStart(at);
  return at;
}

uint64_t CTextFilePreViewEdit::LineToOffset(int64_t line) { return StartOfLine(line); }

int64_t CTextFilePreViewEdit::OffsetToLine(uint64_t offset) {
  if (offset >= m_file.Size() || m_marks.empty() || offset < m_textStart) return 0;
  const auto it = std::upper_bound(m_marks.begin(), m_marks.end(), offset);
  const size_t mark = static_cast<size_t>(it - m_marks.begin()) - 1;
  int64_t line = static_cast<int64_t>(mark) * kLinesPerMark;
  uint64_t at = m_marks[mark];
  for (; line + 1 < m_lineCount; ++line) {
    const uint64_t next = NextLineStart(at);
    if (next > offset) break;
    at = next;
  }
  return line;
}

QString CTextFilePreViewEdit::Decode(const uint8_t* data, size_t size) const {
  switch (m_encoding) {
    case Encoding::Utf8:
      return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
      std::u16string units(size / 2, u'\0');
      for (size_t i = 0; i < units.size(); ++i)
        units[i] = m_encoding == Encoding::Utf16Le
                       ? static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8))
                       : static_cast<char16_t>((data[2 * i] << 8) | data[2 * i + 1]);
      return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
    }
    case Encoding::Latin1:
      break;
  }
  return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

QString CTextFilePreViewEdit::RenderText(int64_t first) {
  if (m_lineCount <= 0) return {};
  const int64_t from = ClampFirstLine(first);
  const int64_t to = std::min<int64_t>(from + m_visibleLines, m_lineCount);
  QString text;
  uint64_t at = StartOfLine(from);
  for (int64_t line = from; line < to; ++line) {
    const uint64_t next = NextLineStart(at);
    const uint8_t* bytes = m_file.Fetch(at, static_cast<size_t>(next - at));
    if (line > from) text += QLatin1Char('\n');
    if (bytes != nullptr) {
      QString piece = Decode(bytes, static_cast<size_t>(next - at));
      for (QChar& c : piece)
        if (c.unicode() < 30) c = QLatin1Char(' ');
      text += piece;
    }
    at = next;
  }
  return text;
}
