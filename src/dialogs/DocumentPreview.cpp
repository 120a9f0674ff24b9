#include "dialogs/DocumentPreview.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "controls/CopyLimitedRichEditCtrl.h"
#include "dialogs/FilePreviewDlg.h"
#include "platform/DesktopOpen.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"

namespace {

// Reads exactly `n` bytes at `offset`; false when the file does not have them.
bool ReadAt(int fd, uint64_t offset, void* out, size_t n) {
  size_t have = 0;
  while (have < n) {
    const ssize_t got =
        ::pread(fd, static_cast<char*>(out) + have, n - have, static_cast<off_t>(offset + have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    have += static_cast<size_t>(got);
  }
  return true;
}

uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

class Fd {
 public:
  explicit Fd(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

QString Escape(QChar c) {
  if (c == QLatin1Char('&')) return QStringLiteral("&amp;");
  if (c == QLatin1Char('<')) return QStringLiteral("&lt;");
  if (c == QLatin1Char('>')) return QStringLiteral("&gt;");
  return QString(c);
}

}  // namespace

bool IsRtfFile(const std::string& path) {
  Fd fd(path);
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size <= 4) return false;
  uint8_t head[4];
  if (!ReadAt(fd.get(), 0, head, 4)) return false;
  if (head[0] != '{' || head[1] != '\\' || (head[2] | 0x20) != 'r' || (head[3] | 0x20) != 't') return false;
  // The end, searched backwards over trailing CR, LF and NUL bytes, 512 bytes at a time.
  uint8_t tail[512];
  for (uint64_t end = size; end > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof tail, end));
    if (!ReadAt(fd.get(), end - n, tail, n)) return false;
    for (size_t i = n; i-- > 0;)
      if (tail[i] != '\r' && tail[i] != '\n' && tail[i] != 0) return tail[i] == '}';
    end -= n;
  }
  return false;
}

QString RtfToHtml(const QByteArray& rtf) {
  struct Format {
    bool bold = false, italic = false, underline = false, hidden = false;
    int halfPoints = 24;
    int skipAfterUnicode = 1;
    bool operator==(const Format&) const = default;
  };
  constexpr size_t kMaxDepth = 256;
  std::vector<Format> stack;
  size_t overflow = 0;  // groups deeper than kMaxDepth, read as plain groups
  Format cur;
  Format open;
  bool spanOpen = false;
  int skipChars = 0;
  QString body;
  const auto closeSpan = [&] {
    if (spanOpen) body += QStringLiteral("</span>");
    spanOpen = false;
  };
  const auto put = [&](QChar c) {
    if (cur.hidden) return;
    if (skipChars > 0) {
      --skipChars;
      return;
    }
    if (!spanOpen || !(open == cur)) {
      closeSpan();
      body += QStringLiteral("<span style=\"font-size:%1pt;%2%3%4\">")
                  .arg(cur.halfPoints / 2.0)
                  .arg(cur.bold ? QStringLiteral("font-weight:bold;") : QString())
                  .arg(cur.italic ? QStringLiteral("font-style:italic;") : QString())
                  .arg(cur.underline ? QStringLiteral("text-decoration:underline;") : QString());
      open = cur;
      spanOpen = true;
    }
    body += Escape(c);
  };
  const auto paragraph = [&] {
    if (cur.hidden) return;
    closeSpan();
    body += QStringLiteral("<br>");
  };
  static const char* const kHiddenGroups[] = {
      "fonttbl",   "colortbl",  "stylesheet",        "info",      "pict",     "object", "header", "footer",
      "themedata", "listtable", "listoverridetable", "generator", "xmlnstbl", "rsidtbl"};
  const qsizetype n = rtf.size();
  for (qsizetype i = 0; i < n;) {
    const char c = rtf[i];
    if (c == '{') {
      if (stack.size() < kMaxDepth)
        stack.push_back(cur);
      else
        ++overflow;
      ++i;
    } else if (c == '}') {
      if (overflow > 0)
        --overflow;
      else if (!stack.empty())
        cur = stack.back(), stack.pop_back();
      ++i;
    } else if (c == '\r' || c == '\n') {
      ++i;
    } else if (c != '\\') {
      put(QChar::fromLatin1(c));
      ++i;
    } else if (i + 1 >= n) {
      ++i;
    } else {
      const char d = rtf[i + 1];
      if ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z')) {
        qsizetype j = i + 1;
        while (j < n && j - i <= 32 && ((rtf[j] >= 'a' && rtf[j] <= 'z') || (rtf[j] >= 'A' && rtf[j] <= 'Z')))
          ++j;
        const QByteArray word = rtf.mid(i + 1, j - i - 1);
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (j < n && rtf[j] == '-') negative = true, ++j;
        for (int digits = 0; j < n && rtf[j] >= '0' && rtf[j] <= '9'; ++j, ++digits)
          if (digits < 10) param = param * 10 + (rtf[j] - '0'), hasParam = true;
        if (negative) param = -param;
        if (j < n && rtf[j] == ' ') ++j;
        i = j;
        const bool on = !hasParam || param != 0;
        if (word == "par" || word == "line")
          paragraph();
        else if (word == "tab")
          put(QLatin1Char('\t'));
        else if (word == "b")
          cur.bold = on;
        else if (word == "i")
          cur.italic = on;
        else if (word == "ul")
          cur.underline = on;
        else if (word == "ulnone")
          cur.underline = false;
        else if (word == "fs" && hasParam && param > 0 && param < 2000)
          cur.halfPoints = static_cast<int>(param);
        else if (word == "plain")
          cur.bold = cur.italic = cur.underline = false, cur.halfPoints = 24;
        else if (word == "uc" && hasParam && param >= 0 && param < 16)
          cur.skipAfterUnicode = static_cast<int>(param);
        else if (word == "u" && hasParam) {
          const uint32_t code = static_cast<uint32_t>(param < 0 ? param + 65536 : param) & 0xffff;
          skipChars = 0;
          put(QChar(static_cast<char16_t>(code)));
          skipChars = cur.skipAfterUnicode;
        } else {
          for (const char* hidden : kHiddenGroups)
            if (word == hidden) cur.hidden = true;
        }
      } else if (d == '\'') {
        const QByteArray hex = rtf.mid(i + 2, 2);
        bool ok = false;
        const int code = hex.toInt(&ok, 16);
        if (ok && hex.size() == 2) put(QChar::fromLatin1(static_cast<char>(code)));
        i += 2 + hex.size();
      } else if (d == '*') {
        cur.hidden = true;
        i += 2;
      } else if (d == '\r' || d == '\n') {
        paragraph();
        i += 2;
      } else if (d == '~') {
        put(QChar(0xa0));
        i += 2;
      } else {
        if (d == '\\' || d == '{' || d == '}') put(QLatin1Char(d));
        i += 2;
      }
    }
  }
  closeSpan();
  return QStringLiteral("<html><body>") + body + QStringLiteral("</body></html>");
}

OfficeDocumentKind CompoundDocumentKind(const std::string& path) {
  Fd fd(path);
  struct stat st {};
  constexpr OfficeDocumentKind kNone = OfficeDocumentKind::kNone;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kNone;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint8_t header[512];
  static const uint8_t kSignature[8] = {0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1};
  if (!ReadAt(fd.get(), 0, header, sizeof header) || std::memcmp(header, kSignature, 8) != 0) return kNone;
  const uint16_t shift = U16(header + 0x1e);
  if (shift != 9 && shift != 12) return kNone;
  const uint32_t sector = 1u << shift;
  const uint64_t sectors = size / sector;  // an upper bound for every count and chain below
  const uint32_t fatCount = U32(header + 0x2c);
  if (fatCount > sectors) return kNone;
  const auto sectorOffset = [&](uint32_t s) { return (uint64_t{s} + 1) * sector; };
  // The allocation-table sectors: 109 in the header, the rest in a chain of extension sectors.
  std::vector<uint32_t> fat;
  for (uint32_t k = 0; k < 109 && fat.size() < fatCount; ++k) fat.push_back(U32(header + 0x4c + 4 * k));
  std::vector<uint8_t> block(sector);
  uint32_t next = U32(header + 0x44);
  for (uint64_t steps = 0; fat.size() < fatCount && next < 0xfffffffa; ++steps) {
    if (steps > sectors || !ReadAt(fd.get(), sectorOffset(next), block.data(), sector)) return kNone;
    for (uint32_t k = 0; k + 1 < sector / 4 && fat.size() < fatCount; ++k)
      fat.push_back(U32(block.data() + 4 * k));
    next = U32(block.data() + sector - 4);
  }
  const auto follow = [&](uint32_t s, uint32_t* out) {
    const uint32_t perSector = sector / 4;
    if (s / perSector >= fat.size()) return false;
    uint8_t entry[4];
    if (!ReadAt(fd.get(), sectorOffset(fat[s / perSector]) + 4 * (s % perSector), entry, 4)) return false;
    *out = U32(entry);
    return true;
  };
  // The directory, sector by sector along its chain (real documents have a few sectors of it).
  constexpr size_t kMaxDirectoryBytes = 16 << 20;
  std::vector<uint8_t> directory;
  uint32_t at = U32(header + 0x30);
  for (uint64_t steps = 0; at < 0xfffffffa; ++steps) {
    if (steps > sectors || !ReadAt(fd.get(), sectorOffset(at), block.data(), sector)) return kNone;
    if (directory.size() >= kMaxDirectoryBytes) return kNone;
    directory.insert(directory.end(), block.begin(), block.end());
    if (!follow(at, &at)) return kNone;
  }
  const size_t entries = directory.size() / 128;
  if (entries == 0 || directory[0x42] != 5) return kNone;
  // The root's children form a tree through the left and right links; each entry is visited once.
  std::vector<bool> seen(entries, false);
  std::vector<uint32_t> todo{U32(directory.data() + 0x4c)};
  while (!todo.empty()) {
    const uint32_t id = todo.back();
    todo.pop_back();
    if (id >= entries || seen[id]) continue;
    seen[id] = true;
    const uint8_t* e = directory.data() + size_t{id} * 128;
    const uint16_t nameBytes = std::min<uint16_t>(U16(e + 0x40), 64);
    QString name;
    for (uint16_t k = 0; k + 1 < nameBytes && U16(e + k) != 0; k += 2) name += QChar(U16(e + k));
    if (e[0x42] == 2 && name.compare(QLatin1String("WordDocument"), Qt::CaseInsensitive) == 0)
      return OfficeDocumentKind::kWord;
    if (e[0x42] == 2 && (name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0 ||
                         name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0))
      return OfficeDocumentKind::kExcel;
    todo.push_back(U32(e + 0x44));
    todo.push_back(U32(e + 0x48));
  }
  return kNone;
}

bool IsOfficeCompoundDocument(const std::string& path) {
  return CompoundDocumentKind(path) != OfficeDocumentKind::kNone;
}

OfficeDocumentKind OpenXmlDocumentKind(const std::string& path) {
  constexpr OfficeDocumentKind kNone = OfficeDocumentKind::kNone;
  Fd fd(path);
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kNone;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  // The end-of-directory record: 22 bytes and a comment of at most 65535, at the very end.
  constexpr size_t kEndRecord = 22;
  if (size < kEndRecord) return kNone;
  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kEndRecord + 65535));
  std::vector<uint8_t> tail(tailSize);
  if (!ReadAt(fd.get(), size - tailSize, tail.data(), tailSize)) return kNone;
  size_t end = std::string::npos;
  for (size_t i = tailSize - kEndRecord + 1; i-- > 0;) {
    if (U32(&tail[i]) == 0x06054b50 && i + kEndRecord + U16(&tail[i + 20]) == tailSize) {
      end = i;
      break;
    }
  }
  if (end == std::string::npos) return kNone;
  const uint32_t directorySize = U32(&tail[end + 12]);
  const uint32_t directoryOffset = U32(&tail[end + 16]);
  // Documents have a few dozen parts; a directory beyond this is no document of ours.
  constexpr uint32_t kMaxDirectoryBytes = 4 << 20;
  if (directorySize > kMaxDirectoryBytes || uint64_t{directoryOffset} + directorySize > size) return kNone;
  std::vector<uint8_t> directory(directorySize);
  if (directorySize > 0 && !ReadAt(fd.get(), directoryOffset, directory.data(), directorySize)) return kNone;
  constexpr size_t kEntryHeader = 46;
  for (size_t at = 0; at + kEntryHeader <= directory.size();) {
    const uint8_t* e = directory.data() + at;
    if (U32(e) != 0x02014b50) return kNone;
    const size_t nameBytes = U16(e + 28);
    const size_t next = at + kEntryHeader + nameBytes + U16(e + 30) + U16(e + 32);
    if (at + kEntryHeader + nameBytes > directory.size()) return kNone;
    const std::string name(reinterpret_cast<const char*>(e + kEntryHeader), nameBytes);
    if (name == "word/document.xml") return OfficeDocumentKind::kWordXml;
    if (name == "xl/workbook.xml") return OfficeDocumentKind::kExcelXml;
    at = next;
  }
  return kNone;
}

std::string HandOverFileName(OfficeDocumentKind kind) {
  switch (kind) {
    case OfficeDocumentKind::kWord:
      return "document.doc";
    case OfficeDocumentKind::kExcel:
      return "document.xls";
    case OfficeDocumentKind::kWordXml:
      return "document.docx";
    case OfficeDocumentKind::kExcelXml:
      return "document.xlsx";
    case OfficeDocumentKind::kNone:
      break;
  }
  return {};
}

bool OpenWithDocpeek(const std::string& path, const std::string& /*title*/, bool skipTest) {
  OfficeDocumentKind kind = CompoundDocumentKind(path);
  if (kind == OfficeDocumentKind::kNone && skipTest) kind = OpenXmlDocumentKind(path);
  if (kind == OfficeDocumentKind::kNone) return false;
  // Running as root for nobody known nothing is started; no copy is made for nobody to read.
  if (platform::RunningAsRoot() && !platform::DesktopUser()) {
    corvale::ui::ShowMessageBox(
        platform::NoDesktopUserText(
            "To read the document, recover it into a folder of yours and open it from there."),
        GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  // The viewer is chosen by the extension: it comes from what the file holds, never from the name
  // on the disk, which the disk's author chose.
  Fd source(path);
  std::string why;
  const std::string copy =
      source.get() < 0 ? std::string() : platform::HandOverCopy(source.get(), HandOverFileName(kind), &why);
  if (copy.empty()) {
    corvale::ui::ShowMessageBox("The document could not be handed to the viewer: " + why + ".",
                                GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  return corvale::ui::OpenUrl(copy);
}

CRtfPreviewerDlg::CRtfPreviewerDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Preview RTF"));
  resize(640, 480);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_edit = new CCopyLimitedRichEditCtrl(this);
  m_edit->setReadOnly(true);
  layout->addWidget(m_edit);
}

void CRtfPreviewerDlg::Load(const std::string& path, const std::string& title) {
  QFile file(QString::fromStdString(path));
  QByteArray data;
  if (file.open(QIODevice::ReadOnly)) data = file.readAll();
  m_edit->setHtml(RtfToHtml(data));
  m_edit->moveCursor(QTextCursor::Start);
  setWindowTitle(QString::fromStdString(title));
}

int CRtfPreviewerDlg::ShowRtfFile(const std::string& path, const std::string& title) {
  Load(path, title);
  return exec();
}

PreviewOutcome ShowFilePreview(QWidget* owner, const std::string& path, const std::string& name) {
  if (IsRtfFile(path)) {
    CRtfPreviewerDlg dialog(owner);
    dialog.ShowRtfFile(path, name);
    return PreviewOutcome::kShown;
  }
  if (IsOfficeCompoundDocument(path)) {
    OpenWithDocpeek(path, name, false);
    return PreviewOutcome::kShown;
  }
  const size_t dot = name.rfind('.');
  const QString extension =
      dot == std::string::npos ? QString() : QString::fromStdString(name.substr(dot)).toUpper();
  if (extension == QLatin1String(".XLS") || extension == QLatin1String(".DOC")) {
    corvale::ui::ShowMessageBox(corvale::LoadText(273), GetProductTitle(), corvale::ui::MessageIcon::Warning);
  } else if (extension == QLatin1String(".XLSX") || extension == QLatin1String(".DOCX")) {
    // Only what really is such a document goes to the viewer; anything else named so is shown here.
    if (OpenXmlDocumentKind(path) != OfficeDocumentKind::kNone) {
      OpenWithDocpeek(path, name, true);
      return PreviewOutcome::kShown;
    }
    corvale::ui::ShowMessageBox(corvale::LoadText(273), GetProductTitle(), corvale::ui::MessageIcon::Warning);
  }
  CFilePreViewDlg dialog(owner);
  dialog.SetFile(path, name);
  dialog.DoModal();
  return dialog.WasRecoverAsked() ? PreviewOutcome::kRecoverAsked : PreviewOutcome::kShown;
}
