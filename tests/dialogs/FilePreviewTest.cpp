// The preview of a recovered file: the hex and text views, the picture page, the preview dialog,
// and the rich-text and Office-document previews.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "controls/CopyLimitedRichEditCtrl.h"
#include "dialogs/DocumentPreview.h"
#include "dialogs/FilePreviewDlg.h"
#include "dialogs/FilePreviewViews.h"
#include "dialogs/ImagePreviewWnd.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "support/StandInOpener.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"

namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = corvale::test::ScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// A sparse file of `size` bytes with `pieces` written at their offsets.
std::string SparseFile(const std::string& name, uint64_t size,
                       const std::vector<std::pair<uint64_t, std::string>>& pieces = {}) {
  const std::string path = corvale::test::ScratchDir() + "/" + name;
  const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  for (const auto& [at, bytes] : pieces)
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  return path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `step` on each turn of the event loop until it answers true: for modal dialogs.
void Whenever(std::function<bool()> step) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    if (step()) timer->deleteLater(), timer->stop();
  });
  timer->start();
}

class Preview : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

TEST_F(Preview, HexViewShowsSixteenBytesALineAndPadsTheLast) {
  CHexFilePreViewEdit view;
  view.SetVisibleLines(10);
  EXPECT_TRUE(view.Load(WriteFile("empty", "")));
  EXPECT_EQ(view.GetLineCount(), 0);
  EXPECT_EQ(view.RenderText(0), QString()) << "no lines, not even the header";

  std::string bytes = "ABCDEFGHIJKLMNO";
  bytes += '\x1e';  // 30 and 31 are shown as themselves, 29 and below as "."
  bytes += '\x1d';
  ASSERT_TRUE(view.Load(WriteFile("seventeen", bytes)));
  EXPECT_EQ(view.GetLineCount(), 2);
  const std::string header = "Offset  \t\t\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF";
  std::string pads;
  for (int i = 0; i < 15; ++i) pads += " \t";
  EXPECT_EQ(view.RenderText(0).toStdString(), header +
                                                  "\n00000000\t\t41\t42\t43\t44\t45\t46\t47\t48\t49\t4A\t4B\t"
                                                  "4C\t4D\t4E\t4F\t1E\t\tABCDEFGHIJKLMNO\x1e" +
                                                  "\n00000010\t\t1D\t" + pads + "\t\t.");
  struct Case {
    uint64_t offset;
    int64_t line;
  } cases[] = {{0, 0}, {15, 0}, {16, 1}, {17, 0}, {1000, 0}};
  for (const Case& c : cases) EXPECT_EQ(view.OffsetToLine(c.offset), c.line) << c.offset;
  EXPECT_EQ(view.LineToOffset(1), 16u);
  EXPECT_EQ(view.LineToOffset(2), 0u);
}

// The hex page as the dialog shows it: each column number stands over its bytes, the text column
// starts at the same place on a full line and on the shorter last one, and it ends inside the view.
TEST_F(Preview, HexColumnsStandUnderTheirNumbersAndTheTextColumnFits) {
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += static_cast<char>('A' + i % 26);
  CFilePreViewDlg dialog(nullptr);
  dialog.SetFile(WriteFile("forty", bytes), "forty");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTabBar* tabs = dialog.TabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(CFilePreViewDlg::kTabHex).center());
  ASSERT_EQ(dialog.CurrentTab(), CFilePreViewDlg::kTabHex);
  CHexFilePreViewEdit* hex = dialog.HexView();
  // Shown lines: 0 the header, 1 and 2 full lines, 3 the last line of 8 bytes.
  ASSERT_EQ(hex->document()->blockCount(), 4);
  for (int column = 1; column <= 16; ++column) {
    SCOPED_TRACE(column);
    const int number = hex->ColumnX(0, column);
    ASSERT_GE(number, 0);
    EXPECT_EQ(hex->ColumnX(1, column), number) << "the byte under its column number";
    EXPECT_EQ(hex->ColumnX(2, column), number);
    if (column <= 8) {
      EXPECT_EQ(hex->ColumnX(3, column), number);
    }
  }
  EXPECT_GT(hex->ColumnX(1, 1), hex->ColumnX(1, 0)) << "the offset comes first";
  EXPECT_GT(hex->ColumnX(1, 17), hex->ColumnX(1, 16)) << "the text after the bytes";
  EXPECT_EQ(hex->ColumnX(3, 17), hex->ColumnX(1, 17)) << "the last line's text where the others' is";
  EXPECT_LE(hex->LineEndX(1), hex->viewport()->width()) << "the text column is not cut off";
  corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-preview-hex");
}

TEST_F(Preview, HexViewReachesEveryOffsetOfAFileBeyondFourGiB) {
  const uint64_t size = (uint64_t{5} << 30) + 7;
  const uint64_t past4G = (uint64_t{4} << 30) + 0x20;
  const std::string path =
      SparseFile("sparse", size, {{0, "first"}, {past4G, "beyond"}, {size - 7, "thelast"}});
  CHexFilePreViewEdit view;
  view.SetVisibleLines(1);
  ASSERT_TRUE(view.Load(path));
  EXPECT_EQ(view.GetLineCount(), static_cast<int64_t>((size + 15) / 16));
  struct Case {
    uint64_t offset;
    const char* shows;
  } cases[] = {{0, "00000000\t\t66\t69\t72\t73\t74"},
               {past4G, "100000020\t\t62\t65\t79\t6F\t6E\t64"},
               {size - 7, "140000000\t\t74\t68\t65\t6C\t61\t73\t74\t"}};
  for (const Case& c : cases) {
    const QString text = view.RenderText(view.OffsetToLine(c.offset));
    EXPECT_TRUE(text.contains(QLatin1String(c.shows))) << text.toStdString();
  }
}

TEST_F(Preview, TextViewTakesFilesUpTo100MiBWithABoundedIndex) {
  CTextFilePreViewEdit view;
  view.SetVisibleLines(10);
  EXPECT_TRUE(view.Load(WriteFile("empty", "")));
  EXPECT_EQ(view.GetLineCount(), 0);
  EXPECT_EQ(view.RenderText(0), QString());
  EXPECT_FALSE(view.Load(SparseFile("over", CTextFilePreViewEdit::kMaxFileSize + 1)));
  EXPECT_EQ(view.GetLineCount(), 0);
  // 100 MiB of line feeds: one line each, and one kept start per 256 lines.
  const std::string path = SparseFile("limit", CTextFilePreViewEdit::kMaxFileSize);
  {
    const int fd = ::open(path.c_str(), O_WRONLY);
    std::string feeds(1 << 20, '\n');
    for (uint64_t at = 0; at < CTextFilePreViewEdit::kMaxFileSize; at += feeds.size())
      ASSERT_EQ(::pwrite(fd, feeds.data(), feeds.size(), static_cast<off_t>(at)),
                static_cast<ssize_t>(feeds.size()));
    ::close(fd);
  }
  ASSERT_TRUE(view.Load(path));
  EXPECT_EQ(view.GetLineCount(), static_cast<int64_t>(CTextFilePreViewEdit::kMaxFileSize));
  EXPECT_EQ(view.IndexEntries(), CTextFilePreViewEdit::kMaxFileSize / 256);
  EXPECT_EQ(view.OffsetToLine(77777777), 77777777);
  EXPECT_EQ(view.LineToOffset(104857599), 104857599u);
}

TEST_F(Preview, TextViewWrapsLongLinesWithoutSplittingACharacter) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<uint64_t> starts;
  } cases[] = {
      {"ascii", std::string(500, 'a'), {0, 160, 319, 478}},
      // Two-byte characters: the second line would end inside one at 319, so it ends at 318.
      {"utf8",
       [] {
         std::string s;
         for (int i = 0; i < 250; ++i) s += "\xc3\xa9";
         return s;
       }(),
       {0, 160, 318, 476}},
      {"lf", std::string(10, 'x') + "\n" + std::string(200, 'y'), {0, 11, 170}},
      // UTF-16 with its byte-order mark: lines of 80 and then 79 characters, in whole units.
      {"utf16",
       [] {
         std::string s = "\xff\xfe";
         for (int i = 0; i < 200; ++i) s += std::string("z\0", 2);
         return s;
       }(),
       {2, 162, 320}},
  };
  for (const Case& c : cases) {
    CTextFilePreViewEdit view;
    ASSERT_TRUE(view.Load(WriteFile(c.name, c.bytes))) << c.name;
    ASSERT_EQ(view.GetLineCount(), static_cast<int64_t>(c.starts.size())) << c.name;
    for (size_t i = 0; i < c.starts.size(); ++i) {
      EXPECT_EQ(view.LineToOffset(static_cast<int64_t>(i)), c.starts[i]) << c.name << " line " << i;
      EXPECT_EQ(view.OffsetToLine(c.starts[i]), static_cast<int64_t>(i)) << c.name;
    }
  }
}

TEST_F(Preview, TextViewDecodesUtf8Utf16AndLatin1) {
  CORVALE_FIXTURE(dir, "preview_files.sh", "preview_files");
  struct Case {
    const char* file;
    CTextFilePreViewEdit::Encoding encoding;
  } cases[] = {{"text-utf8.txt", CTextFilePreViewEdit::Encoding::Utf8},
               {"text-utf16.txt", CTextFilePreViewEdit::Encoding::Utf16Le},
               {"text-latin1.txt", CTextFilePreViewEdit::Encoding::Latin1}};
  for (const Case& c : cases) {
    CTextFilePreViewEdit view;
    view.SetVisibleLines(5);
    ASSERT_TRUE(view.Load(dir + "/" + c.file)) << c.file;
    EXPECT_EQ(view.GetEncoding(), c.encoding) << c.file;
    // Line feeds (below 30) show as spaces.
    EXPECT_EQ(view.RenderText(0), QString::fromUtf8("Grüße aus Köln \nzweite Zeile ")) << c.file;
  }
  // Bytes 30 and 31 stay themselves; other control bytes become spaces.
  CTextFilePreViewEdit view;
  ASSERT_TRUE(view.Load(WriteFile("controls", std::string("a\x1e\x1f\x01\tb"))));
  EXPECT_EQ(view.RenderText(0), QString::fromLatin1("a\x1e\x1f  b"));
}

TEST_F(Preview, PicturesDecodeOrShowAWarning) {
  CORVALE_FIXTURE(dir, "preview_files.sh", "preview_files");
  struct Case {
    const char* file;
    int width, height;
  } cases[] = {{"photo.jpg", 320, 240}, {"wide.png", 1000, 10}, {"small.bmp", 50, 40},
               {"anim.gif", 64, 48},    {"cut.png", 0, 0},      {"text-utf8.txt", 0, 0}};
  for (const Case& c : cases) {
    CImageWindow window;
    window.resize(400, 300);
    EXPECT_EQ(window.Load(dir + "/" + c.file), c.width > 0) << c.file;
    EXPECT_EQ(window.Image().size(), QSize(c.width, c.height)) << c.file;
    if (c.width == 0) {
      EXPECT_FALSE(window.FailureReason().isEmpty()) << c.file;
    }
  }
  struct Rect {
    QSize image, client;
    bool fit;
    QPoint scroll;
    QRect drawn;
  } rects[] = {
      {{4000, 100}, {400, 300}, true, {}, {0, 145, 400, 10}},  // shrunk, centred vertically
      {{100, 4000}, {400, 300}, true, {}, {196, 0, 8, 300}},   // shrunk, centred horizontally (7.5 rounds up)
      {{50, 50}, {400, 300}, true, {}, {175, 125, 50, 50}},    // never enlarged
      {{50, 50}, {400, 300}, false, {}, {175, 125, 50, 50}},
      {{1000, 1000}, {400, 300}, false, {100, 800}, {0, 50, 400, 200}},  // actual size from the offsets
      {{50, 50}, {0, 0}, true, {}, {}},
  };
  for (const Rect& r : rects)
    EXPECT_EQ(CImageWindow::DrawRect(r.image, r.client, r.fit, r.scroll), r.drawn) << r.image.width();
}

TEST_F(Preview, ActualSizeScrollsByTheWheelAndShowsBarsOnlyWhereNeeded) {
  CORVALE_FIXTURE(dir, "preview_files.sh", "preview_files");
  CImageWindow window;
  window.resize(200, 200);
  window.show();
  ASSERT_TRUE(window.Load(dir + "/wide.png"));
  EXPECT_FALSE(window.horizontalScrollBar()->isVisible());
  window.SetMode(false);
  EXPECT_TRUE(window.horizontalScrollBar()->isVisible());
  EXPECT_FALSE(window.verticalScrollBar()->isVisible()) << "10 pixels high fits";
  ASSERT_TRUE(window.Load(dir + "/photo.jpg"));
  window.SetMode(false);
  ASSERT_TRUE(window.verticalScrollBar()->isVisible());
  QWheelEvent down(QPointF(10, 10), QPointF(10, 10), {}, QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase,
                   false);
  QApplication::sendEvent(window.viewport(), &down);
  EXPECT_EQ(window.verticalScrollBar()->value(), std::min(120, window.verticalScrollBar()->maximum()));
}

TEST_F(Preview, DialogOpensOnThePictureOrTheTextAndKeepsThePlaceAcrossTabs) {
  CORVALE_FIXTURE(dir, "preview_files.sh", "preview_files");
  {
    CFilePreViewDlg dialog(nullptr);
    dialog.SetFile(dir + "/photo.jpg", "photo.jpg");
    dialog.show();
    EXPECT_EQ(dialog.CurrentTab(), CFilePreViewDlg::kTabImage);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("photo.jpg- File Preview"));
    corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-preview-image");
    dialog.ActualSizeButton()->click();
    EXPECT_FALSE(dialog.ImageView()->IsFit());
    EXPECT_TRUE(dialog.FitButton()->isEnabled());
    dialog.SelectTab(CFilePreViewDlg::kTabHex);
    QApplication::processEvents();
    corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-preview-hex");
  }
  {
    CFilePreViewDlg dialog(nullptr);
    dialog.SetFile(dir + "/cut.png", "cut.png");
    dialog.show();
    EXPECT_EQ(dialog.CurrentTab(), CFilePreViewDlg::kTabText) << "a damaged picture opens on Text";
    dialog.SelectTab(CFilePreViewDlg::kTabImage);
    QApplication::processEvents();
    corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-preview-image-failed");
  }
  // 3000 lines of 10 bytes: text line 1234 starts at byte 12340, which lies in hex line 771.
  std::string lines;
  for (int i = 0; i < 3000; ++i)
    lines += QStringLiteral("line %1\n").arg(i, 4, 10, QLatin1Char('0')).toStdString();
  CFilePreViewDlg dialog(nullptr);
  dialog.SetFile(WriteFile("lines.txt", lines), "lines.txt");
  dialog.resize(640, 480);
  dialog.show();
  ASSERT_EQ(dialog.CurrentTab(), CFilePreViewDlg::kTabText);
  EXPECT_EQ(dialog.ScrollBar()->maximum(), 3000);
  dialog.ScrollBar()->setValue(1234);
  dialog.Refresh(true);
  EXPECT_TRUE(dialog.TextView()->toPlainText().startsWith(QLatin1String("line 1234")));
  corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-preview-text");
  dialog.SelectTab(CFilePreViewDlg::kTabHex);
  EXPECT_EQ(dialog.ScrollBar()->value(), 771);
  EXPECT_EQ(dialog.ScrollBar()->maximum(), 1875);
  // Back on Text: the line that holds the hex line's first byte (12336).
  dialog.SelectTab(CFilePreViewDlg::kTabText);
  EXPECT_EQ(dialog.ScrollBar()->value(), 1233);
  EXPECT_FALSE(dialog.WasRecoverAsked());
  dialog.RecoverButton()->click();
  EXPECT_TRUE(dialog.WasRecoverAsked());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(Preview, RichTextIsRecognisedByItsFirstAndLastBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    bool rtf;
  } cases[] = {{"plain", "{\\rtf1 hello}", true},
               {"trailing", std::string("{\\rtf1 hello}\r\n\0\0\n", 19), true},
               {"upper", "{\\RTF1 hello}", true},
               {"four", "{\\rt", false},
               {"five", "{\\rt}", true},
               {"unclosed", "{\\rtf1 hello", false},
               {"other", "<html></html>}", false},
               {"long", "{\\rtf1 " + std::string(2000, 'x') + "}" + std::string(700, '\n'), true}};
  for (const Case& c : cases) EXPECT_EQ(IsRtfFile(WriteFile(c.name, c.bytes)), c.rtf) << c.name;
  EXPECT_FALSE(IsRtfFile(corvale::test::ScratchDir() + "/missing"));

  const QString html = RtfToHtml(
      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\*\\generator x;}\\b Bold\\b0  \\i it\\i0\\par caf\\'e9 "
      "\\u8364? "
      "{\\pict 0123}end}");
  EXPECT_TRUE(html.contains(QLatin1String("font-weight:bold;\">Bold</span>"))) << html.toStdString();
  EXPECT_TRUE(html.contains(QLatin1String("font-style:italic;\">it</span><br>"))) << html.toStdString();
  EXPECT_TRUE(html.contains(QString::fromUtf8("café € end"))) << html.toStdString();
  EXPECT_FALSE(html.contains(QLatin1String("Arial")));
  EXPECT_FALSE(html.contains(QLatin1String("0123")));
  // Deep nesting and a cut-off end are read without harm.
  EXPECT_FALSE(RtfToHtml(QByteArray(100000, '{') + "x\\").isEmpty());
}

TEST_F(Preview, OfficeDocumentsAreFoundByWhatTheyHoldAndHandedOverUnderThatKind) {
  CORVALE_FIXTURE(dir, "raw_documents.sh", "raw_documents");
  // Running as root a copy is handed over only for a person who asked; here user nobody, via sudo.
  corvale::test::ScopedVariables asked(
      {{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", nullptr}});
  const std::string d = dir + "/documents/";
  const std::string zipNoDocument = corvale::test::ScratchDir() + "/plain.zip";
  ASSERT_EQ(corvale::test::RunCommand("cd '" + d + "' && zip -q '" + zipNoDocument + "' report.rtf"), 0);
  struct Case {
    std::string path;
    OfficeDocumentKind compound;
    OfficeDocumentKind xml;
  } cases[] = {
      {d + "report.doc", OfficeDocumentKind::kWord, OfficeDocumentKind::kNone},
      {d + "table.xls", OfficeDocumentKind::kExcel, OfficeDocumentKind::kNone},
      {d + "slides.ppt", OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      {d + "report.docx", OfficeDocumentKind::kNone, OfficeDocumentKind::kWordXml},
      {d + "table.xlsx", OfficeDocumentKind::kNone, OfficeDocumentKind::kExcelXml},
      {d + "slides.pptx", OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      {zipNoDocument, OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      {d + "report.rtf", OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      {WriteFile("cut.doc", ReadAll(d + "report.doc").substr(0, 1536)), OfficeDocumentKind::kNone,
       OfficeDocumentKind::kNone},
      {WriteFile("header.doc", ReadAll(d + "report.doc").substr(0, 512) + std::string(4096, '\xff')),
       OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      // The directory cut off, and an end record whose directory lies beyond the file.
      {WriteFile("cut.docx", ReadAll(d + "report.docx").substr(0, ReadAll(d + "report.docx").size() - 30)),
       OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
      {WriteFile("far.docx", std::string("PK\5\6\0\0\0\0\0\0\0\0\x10\0\0\0\xff\xff\xff\x7f\0\0", 22)),
       OfficeDocumentKind::kNone, OfficeDocumentKind::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompoundDocumentKind(c.path), c.compound) << c.path;
    EXPECT_EQ(IsOfficeCompoundDocument(c.path), c.compound != OfficeDocumentKind::kNone) << c.path;
    EXPECT_EQ(OpenXmlDocumentKind(c.path), c.xml) << c.path;
  }
  // Garbage of every length, and a zip's end record over random bytes, never harm the readers.
  std::mt19937 random(38);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 3000, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    if (round % 2 && bytes.size() > 22) bytes.replace(bytes.size() - 22, 4, "PK\5\6");
    const std::string path = WriteFile("garbage", bytes);
    CompoundDocumentKind(path);
    OpenXmlDocumentKind(path);
  }

  std::vector<std::pair<std::string, std::string>> opened;  // path, what it held at the call
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.emplace_back(address, ReadAll(address));
    return true;
  });
  std::vector<std::string> boxes;
  auto previousBoxes = corvale::ui::SetMessageBoxHandler(
      [&](const std::string& text, const std::string&, corvale::ui::MessageIcon) { boxes.push_back(text); });
  // The name on the disk never chooses the program: the copy is named by what the file holds.
  EXPECT_EQ(ShowFilePreview(nullptr, d + "table.xls", "Budget.xls"), PreviewOutcome::kShown);
  EXPECT_EQ(ShowFilePreview(nullptr, d + "report.docx", "../Letter.DOCX"), PreviewOutcome::kShown);
  EXPECT_EQ(ShowFilePreview(nullptr, d + "report.doc", "invoice.jar"), PreviewOutcome::kShown);
  ASSERT_EQ(opened.size(), 3u);
  const std::pair<std::string, std::string> handed[] = {{"document.xls", d + "table.xls"},
                                                        {"document.docx", d + "report.docx"},
                                                        {"document.doc", d + "report.doc"}};
  for (size_t i = 0; i < opened.size(); ++i) {
    EXPECT_EQ(std::filesystem::path(opened[i].first).filename(), handed[i].first);
    EXPECT_EQ(opened[i].second, ReadAll(handed[i].second));
  }
  EXPECT_TRUE(boxes.empty());

  // Rich text shows in its own dialog.
  bool shown = false;
  Whenever([&] {
    auto* dialog = qobject_cast<CRtfPreviewerDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return false;
    shown = dialog->Editor()->toPlainText().contains(QLatin1String("Paragraph 1 of the report"));
    corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-preview-rtf");
    dialog->reject();
    return true;
  });
  EXPECT_EQ(ShowFilePreview(nullptr, d + "report.rtf", "report.rtf"), PreviewOutcome::kShown);
  EXPECT_TRUE(shown);

  // A ".doc" that is no Word document, and a ".docx" that is no Word document of the XML format, say
  // so and fall back to the general preview.
  for (const auto& [path, name] :
       {std::pair{WriteFile("fake.doc", "not a document"), std::string("fake.doc")},
        std::pair{d + "slides.pptx", std::string("Slides.docx")}}) {
    boxes.clear();
    Whenever([&] {
      auto* dialog = qobject_cast<CFilePreViewDlg*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return false;
      dialog->RecoverButton()->click();
      return true;
    });
    EXPECT_EQ(ShowFilePreview(nullptr, path, name), PreviewOutcome::kRecoverAsked) << name;
    ASSERT_EQ(boxes.size(), 1u) << name;
    EXPECT_EQ(boxes[0], "Failed to preview the file. The file is neither a valid Word nor Excel document.");
  }
  EXPECT_EQ(opened.size(), 3u);

  // Running as root for nobody known, no copy is made and nothing is started: the message says how
  // to read the document instead.
  if (::geteuid() == 0) {
    corvale::test::ScopedVariables unknown({{"SUDO_UID", nullptr}});
    boxes.clear();
    EXPECT_EQ(ShowFilePreview(nullptr, d + "report.docx", "Letter.docx"), PreviewOutcome::kShown);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("recover it into a folder of yours"), std::string::npos) << boxes[0];
    EXPECT_EQ(opened.size(), 3u);
  }
  corvale::ui::SetMessageBoxHandler(previousBoxes);
  corvale::ui::SetUrlHandler(previous);
}

}  // namespace
