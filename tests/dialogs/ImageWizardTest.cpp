// The disk-image wizards: the sector-range selector, the create wizard's pages and run (into a
// scratch folder, a full small file system, and cancelled), and the open wizard with its slice
// repair on images written at test time.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controls/SectorSelectCtrl.h"
#include "core/FileRecoverer.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RefusedLink.h"

namespace fs = std::filesystem;
using corvale::image::PartFilePath;
using corvale::image::PartListPath;
using corvale::ui::MessageAnswer;

namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (size_t i = 0; i < size; i += 4) {
    const uint32_t value = random();
    for (size_t k = 0; k < 4 && i + k < size; ++k) bytes[i + k] = static_cast<uint8_t>(value >> (8 * k));
  }
  // Some runs of zeros, so the compressed chunks differ in size.
  for (size_t i = 0; i + 4096 < size; i += 65536 * 3)
    std::fill_n(bytes.begin() + static_cast<long>(i), 4096, 0);
  return bytes;
}

// Every sector of the image at `path` equals `expected` (the image rounds up to whole chunks with zeros).
void ExpectImageHolds(const std::string& path, const std::vector<uint8_t>& expected) {
  CImageFileDeviceWithDecompress image(path);
  ASSERT_TRUE(image.IsUsable()) << image.GetProblem();
  ASSERT_GE(static_cast<uint64_t>(image.GetSectorCount()) * 512, expected.size());
  std::vector<uint8_t> read(expected.size());
  ASSERT_TRUE(image.ReadSectors(read.data(), 0, expected.size() / 512));
  EXPECT_TRUE(read == expected);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

void Shot(QWidget& widget, const std::string& name) {
  QCoreApplication::processEvents();
  EXPECT_FALSE(corvale::test::SaveScreenshot(widget.grab().toImage(), name).empty()) << name;
}

class ImageWizards : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir();
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          if (answers.empty()) return MessageAnswer::Ok;
          const MessageAnswer answer = answers.front();
          answers.erase(answers.begin());
          return answer;
        });
    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { messages.push_back(text); });
    m_previousChooser =
        corvale::dialogs::SetImageFileChooser([this](QWidget*, bool, const std::string&, const std::string&) {
          if (chosen.empty()) return std::string();
          const std::string path = chosen.front();
          chosen.erase(chosen.begin());
          return path;
        });
  }
  void TearDown() override {
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::dialogs::SetImageFileChooser(m_previousChooser);
  }

  // Writes an image of `source` in parts of `partUnits` × 512 bytes; returns the descriptor path.
  std::string WriteImage(const std::vector<uint8_t>& source, const std::string& folder, int partUnits) {
    MemoryDevice device(source);
    CCompressController writer;
    writer.SetSource(&device, "DATA (E:\\ NTFS)", 0, source.size() / 512, 255);
    writer.SetCompressParam(2, 1, partUnits);
    const std::string path = folder + "/disk.kbi";
    writer.SetImageFilePath(path);
    EXPECT_TRUE(writer.Compress(nullptr)) << writer.GetErrorText();
    return path;
  }

  std::string m_folder;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  std::vector<MessageAnswer> answers;
  std::vector<std::string> chosen;

 private:
  corvale::ui::QuestionHandler m_previousQuestion;
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::dialogs::ImageFileChooser m_previousChooser;
};

}  // namespace

TEST_F(ImageWizards, SectorSelectorKeepsAValidRangeInSectors) {
  CSectorSelectCtrl selector;
  selector.resize(560, 60);
  QSignalSpy changed(&selector, &CSectorSelectCtrl::rangeChanged);
  EXPECT_EQ(selector.SetSectorCount(1000), 999u);
  uint64_t first = 1, last = 1;
  selector.GetSelectedRange(first, last);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 999u);
  selector.SetSelectedRange(10, 5);  // backwards: reset to everything, and the owner is told
  EXPECT_EQ(changed.count(), 1);
  selector.GetSelectedRange(first, last);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 999u);
  selector.SetSelectedRange(200, 600);
  EXPECT_EQ(changed.count(), 1);
  selector.resize(300, 60);  // another scale, the same range within a pixel's worth of sectors
  selector.GetSelectedRange(first, last);
  EXPECT_NEAR(static_cast<double>(first), 200, 4);
  EXPECT_NEAR(static_cast<double>(last), 600, 4);
  // Dragging the whole selection keeps its length in sectors.
  const uint64_t length = last - first;
  const QPoint inside = selector.SelectionRect().center();
  QTest::mousePress(&selector, Qt::LeftButton, {}, inside);
  QTest::mouseMove(&selector, inside + QPoint(37, 0));
  QMouseEvent move(QEvent::MouseMove, QPointF(inside + QPoint(37, 0)),
                   QPointF(selector.mapToGlobal(inside + QPoint(37, 0))), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(&selector, &move);
  QTest::mouseRelease(&selector, Qt::LeftButton, {}, inside + QPoint(37, 0));
  EXPECT_EQ(selector.GetDragMode(), CSectorSelectCtrl::kDragWhole);
  EXPECT_GT(changed.count(), 1);
  selector.GetSelectedRange(first, last);
  EXPECT_GT(first, 200u);
  EXPECT_EQ(last - first, length);
  Shot(selector, "sector_range_selector");
}

TEST_F(ImageWizards, PageTextsFollowTheirRules) {
  struct PathCase {
    const char* typed;
    const char* result;
  } paths[] = {{"/a/image.kbi", "/a/image.kbi"},
               {"/a/image.KBI", "/a/image.KBI.kbi"},
               {"x.kbi", "x.kbi.kbi"},
               {"/a/image", "/a/image.kbi"}};
  CImageDiskPathChooseDlg page;
  for (const PathCase& c : paths) {
    page.PathEdit()->setText(c.typed);
    EXPECT_EQ(page.GetImageFilePath(), c.result) << c.typed;
  }
  EXPECT_EQ(CImageDiskRunDlg::FormatRemaining(100, 25, 6000), "00:00:19");
  EXPECT_EQ(CImageDiskRunDlg::FormatRemaining(100, 25, 4999), "Calculating...");
  EXPECT_EQ(CImageDiskRunDlg::FormatRemaining(UINT64_MAX / 2, 1, 3600000).empty(), false);
  const std::string forty(40, 'a');
  EXPECT_EQ(CImageDiskRunDlg::ShortPath(forty), forty);
  EXPECT_EQ(CImageDiskRunDlg::ShortPath(forty + "b"), forty + ".........");

  CImageDiskDiskInfo summary;
  ImageSummary data;
  data.sourceName = "disk";
  data.totalSectors = 1000000;
  data.regionEnd = 999999;
  summary.ShowSummary(data, 512);
  EXPECT_EQ(summary.ValueText(1046), "488.28 MB");
  EXPECT_EQ(summary.ValueText(1048), "0---999999   Sectors");
  EXPECT_EQ(summary.ValueText(1050), "None");
  data.totalSectors = 976773168;
  summary.ShowSummary(data, 0);  // a bad sector size counts as 512
  EXPECT_EQ(summary.ValueText(1046), "465.76 GB");

  CImageDiskADPathChooseDlg advanced;
  int32_t slice = 0, type = 0, level = 0;
  advanced.GetImageSettings(slice, type, level);
  EXPECT_EQ(slice, 8388600);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(level, -1);
  advanced.SplitBox()->setChecked(true);
  advanced.SliceList()->setCurrentIndex(3);
  advanced.CompressBox()->setChecked(true);
  advanced.LevelList()->setCurrentIndex(2);
  advanced.GetImageSettings(slice, type, level);
  EXPECT_EQ(slice, 1310720);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(level, 9);

  CImageDiskSetRegionDlg region;
  region.SetTotalSectors(5000);
  region.StartEdit()->setText("-5");
  emit region.StartEdit()->textEdited("-5");
  EXPECT_EQ(region.StartEdit()->text(), "0");
  region.EndEdit()->setText("99999");
  emit region.EndEdit()->textEdited("99999");
  EXPECT_EQ(region.GetEnd(), 4999u);
  region.StartEdit()->setText("300");
  emit region.StartEdit()->textEdited("300");
  region.EndEdit()->setText("100");
  emit region.EndEdit()->textEdited("100");
  EXPECT_EQ(region.GetStart(), 0u);
  EXPECT_EQ(region.GetEnd(), 100u);
}

TEST_F(ImageWizards, AdvancedWizardImagesARegionAndEveryPageIsShown) {
  const std::vector<uint8_t> source = RandomBytes(3 << 20, 7);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  Shot(wizard, "image_wizard_0_mode");
  wizard.ModePage()->AdvancedBox()->setChecked(true);
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kAdvancedPath);
  EXPECT_EQ(wizard.GetBannerTitle(), "Disk Image Destination File");
  // A folder that does not exist is refused and the page stays.
  wizard.AdvancedPathPage()->PathEdit()->setText(QString::fromStdString(m_folder + "/none/disk"));
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kAdvancedPath);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Please check the path you are trying to save to and try again.");
  wizard.AdvancedPathPage()->PathEdit()->setText(QString::fromStdString(m_folder + "/region"));
  wizard.AdvancedPathPage()->CompressBox()->setChecked(true);
  Shot(wizard, "image_wizard_3_destination_advanced");
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRegion);
  wizard.RegionPage()->EndEdit()->setText("4095");
  emit wizard.RegionPage()->EndEdit()->textEdited("4095");
  wizard.RegionPage()->StartEdit()->setText("1024");
  emit wizard.RegionPage()->StartEdit()->textEdited("1024");
  Shot(wizard, "image_wizard_4_region");
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  EXPECT_EQ(wizard.SummaryPage()->ValueText(1048), "1024---4095   Sectors");
  EXPECT_EQ(wizard.SummaryPage()->ValueText(1050), "Fastest");
  Shot(wizard, "image_wizard_1_summary");
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRun);
  Shot(wizard, "image_wizard_5_run");
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 60000));
  Shot(wizard, "image_wizard_6_success");
  wizard.OnNext();
  EXPECT_TRUE(wizard.IsImageCreated());
  EXPECT_EQ(wizard.GetImagePath(), m_folder + "/region.kbi");
  EXPECT_EQ(wizard.GetRegionLength(), 3071u);
  const std::vector<uint8_t> region(source.begin() + 1024 * 512, source.begin() + 4096 * 512);
  ExpectImageHolds(wizard.GetImagePath(), region);
}

TEST_F(ImageWizards, SimpleWizardImagesTheWholeSource) {
  const std::vector<uint8_t> source = RandomBytes(2 << 20, 11);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "A rather long volume name (F:\\ FAT32)", 255);
  wizard.show();
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
  chosen.push_back(m_folder + "/whole");
  wizard.PathPage()->Browse();
  EXPECT_EQ(wizard.PathPage()->PathEdit()->text().toStdString(), m_folder + "/whole.kbi");
  Shot(wizard, "image_wizard_2_destination");
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  EXPECT_EQ(wizard.SummaryPage()->ValueText(1050), "None");
  wizard.OnNext();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 60000));
  wizard.OnNext();
  ASSERT_TRUE(wizard.IsImageCreated());
  ExpectImageHolds(wizard.GetImagePath(), source);
  CImageFileDeviceWithDecompress image(wizard.GetImagePath());
  EXPECT_EQ(image.GetCompressionType(), 2);
}

// A source that takes its time over every read, as a disk does, so that a run lasts long enough to
// be cancelled in its middle however fast the machine copies memory.
class SlowMemoryDevice : public MemoryDevice {
 public:
  using MemoryDevice::MemoryDevice;
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
    return MemoryDevice::ReadSectors(buffer, firstSector, count);
  }
};

// Cancel pressed during the run: the question first (answered Cancel the run goes on), then the
// run stops and says how much of the source the image holds. Kept, the partial image opens through
// the open-image wizard and reads back byte-exact up to the sector named; removed, no file is left.
TEST_F(ImageWizards, CancelDuringTheRunKeepsAPartialImageOrRemovesIt) {
  const std::vector<uint8_t> source = RandomBytes(64 << 20, 3);
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "kept" : "removed");
    questions.clear();
    const std::string folder = m_folder + (keep ? "/kept" : "/removed");
    fs::create_directories(folder);
    SlowMemoryDevice device(source);
    CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
    wizard.show();
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
    wizard.PathPage()->PathEdit()->clear();
    QTest::keyClicks(wizard.PathPage()->PathEdit(), QString::fromStdString(folder + "/cancelled"));
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRun);
    // Some chunks are written before Cancel is pressed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.RunPage()->Progress()->value() >= 2; }, 60000))
        << "progress " << wizard.RunPage()->Progress()->value() << ", step " << wizard.GetStep();
    answers = {MessageAnswer::Cancel};  // "Cancel Disk Image?" answered Cancel: the run goes on
    QTest::mouseClick(wizard.CancelButton(), Qt::LeftButton);
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_TRUE(wizard.RunPage()->IsRunning());
    answers = {MessageAnswer::Ok, keep ? MessageAnswer::Yes : MessageAnswer::No};
    QTest::mouseClick(wizard.CancelButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard.isVisible(); }, 60000));
    EXPECT_FALSE(wizard.IsImageCreated());
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_EQ(questions[1], "Cancel Disk Image?");
    const std::string& told = questions[2];
    EXPECT_EQ(told.rfind("Disk imaging was cancelled.\n", 0), 0u) << told;
    EXPECT_NE(told.find(" is partial: it holds the first "), std::string::npos) << told;
    EXPECT_EQ(told.find("successfully"), std::string::npos) << told;
    unsigned long long imaged = 0, total = 0;
    const size_t at = told.find("it holds the first ");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(told.c_str() + at, "it holds the first %llu of the %llu", &imaged, &total), 2)
        << told;
    EXPECT_EQ(total, source.size() / 512);
    EXPECT_GT(imaged, 0u);
    EXPECT_LT(imaged, total);
    if (!keep) {
      EXPECT_TRUE(FilesIn(folder).empty());
      continue;
    }
    Shot(wizard, "image_wizard_5_run_cancelled");

    COpenDiskImageMasterDlg open;
    open.show();
    QTest::mouseClick(open.NextButton(), Qt::LeftButton);
    ASSERT_EQ(open.GetStep(), COpenDiskImageMasterDlg::kPath);
    QTest::keyClicks(open.PathPage()->PathEdit(), QString::fromStdString(folder + "/cancelled.kbi"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return open.NextButton()->isEnabled(); }, 5000));
    QTest::mouseClick(open.NextButton(), Qt::LeftButton);
    ASSERT_EQ(open.GetStep(), COpenDiskImageMasterDlg::kSuccess) << (messages.empty() ? "" : messages.back());
    QTest::mouseClick(open.NextButton(), Qt::LeftButton);
    ASSERT_TRUE(open.IsImageOpened());
    CImageFileDeviceWithDecompress image(open.GetImagePath());
    ASSERT_TRUE(image.IsUsable()) << image.GetProblem();
    ASSERT_EQ(static_cast<uint64_t>(image.GetSectorCount()), imaged);
    std::vector<uint8_t> read(imaged * 512);
    ASSERT_TRUE(image.ReadSectors(read.data(), 0, imaged));
    EXPECT_TRUE(std::equal(read.begin(), read.end(), source.begin())) << "sectors 0 to " << imaged - 1;
  }
}

// The files of `folder` and their sizes, as text.
std::string SizesIn(const std::string& folder) {
  std::string text;
  for (const auto& entry : fs::directory_iterator(folder))
    text += entry.path().filename().string() + " " + std::to_string(entry.file_size()) + "\n";
  return text;
}

// While "Cancel Disk Image?" is open the writer stands before its next chunk: nothing more is
// written. Answered Cancel, the run goes on and makes the whole image.
TEST_F(ImageWizards, TheRunStandsStillWhileCancelIsAsked) {
  const std::vector<uint8_t> source = RandomBytes(48 << 20, 4);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  wizard.OnNext();
  const std::string folder = m_folder + "/held";
  fs::create_directories(folder);
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(folder + "/disk"));
  wizard.OnNext();
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRun);
  QTest::qWait(50);
  bool held = false;
  std::string atQuestion, afterWaiting;
  corvale::ui::SetQuestionHandler([&](const std::string& text, const std::string&,
                                      corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
    questions.push_back(text);
    for (int i = 0; i < 2000 && !wizard.RunPage()->IsWriterHeld(); ++i) QTest::qWait(5);
    held = wizard.RunPage()->IsWriterHeld();
    atQuestion = SizesIn(folder);
    QTest::qWait(200);
    afterWaiting = SizesIn(folder);
    return MessageAnswer::Cancel;
  });
  QTest::mouseClick(wizard.CancelButton(), Qt::LeftButton);
  EXPECT_EQ(questions, std::vector<std::string>{"Cancel Disk Image?"});
  EXPECT_TRUE(held) << "the run ended before the question";
  EXPECT_FALSE(atQuestion.empty());
  EXPECT_EQ(afterWaiting, atQuestion) << "the writer went on while the question was open";
  EXPECT_FALSE(wizard.RunPage()->IsPaused());
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 120000));
  wizard.OnNext();
  ASSERT_TRUE(wizard.IsImageCreated());
  ExpectImageHolds(wizard.GetImagePath(), source);
}

// A small file system of its own, mounted for the test and gone afterwards.
class SmallTarget {
 public:
  SmallTarget(const std::string& folder, const char* size) : m_folder(folder) {
    fs::create_directories(folder);
    const std::string options = std::string("size=") + size;
    m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallTarget() {
    if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return m_mounted; }

 private:
  std::string m_folder;
  bool m_mounted = false;
};

// A target too small from the start, and one roomy at first that the run fills: either way the run
// stops at the low-space question, before the file system is full, says how much the partial image
// holds, and leaves nothing behind when that is not wanted.
TEST_F(ImageWizards, AFullTargetStopsWithAClearMessageAndNoImage) {
  const struct {
    const char* size;
    size_t sourceMiB;
  } cases[] = {{"24m", 40}, {"120m", 140}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    questions.clear();
    messages.clear();
    const std::string target = m_folder + "/small-" + c.size;
    SmallTarget small(target, c.size);
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    const std::vector<uint8_t> source = RandomBytes(c.sourceMiB << 20, 5);
    MemoryDevice device(source);
    CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
    wizard.show();
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(target + "/full"));
    wizard.OnNext();
    ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
    // No other place for the rest; then the part written is not wanted either.
    answers = {MessageAnswer::No, MessageAnswer::No};
    wizard.OnNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard.isVisible(); }, 120000));
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_NE(questions.front().find("The free space on the disk is not enough"), std::string::npos);
    EXPECT_EQ(questions.back().rfind("Disk imaging stopped: the target has not enough free space.\n", 0), 0u)
        << questions.back();
    EXPECT_NE(questions.back().find(" is partial: it holds the first "), std::string::npos)
        << questions.back();
    EXPECT_FALSE(wizard.IsImageCreated());
    EXPECT_TRUE(FilesIn(target).empty());
  }
}

TEST_F(ImageWizards, AFullTargetCanGoOnInAnotherFolder) {
  const std::string target = m_folder + "/small";
  SmallTarget small(target, "24m");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  fs::create_directories(m_folder + "/more");
  const std::vector<uint8_t> source = RandomBytes(16 << 20, 9);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  wizard.OnNext();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(target + "/moved"));
  wizard.OnNext();
  answers = {MessageAnswer::Yes};
  chosen = {m_folder + "/more/rest.kbi"};
  wizard.OnNext();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess || !wizard.isVisible(); }, 60000));
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSuccess) << (messages.empty() ? "" : messages.back());
  wizard.OnNext();
  ASSERT_TRUE(wizard.IsImageCreated());
  EXPECT_FALSE(FilesIn(m_folder + "/more").empty());
  ExpectImageHolds(target + "/moved.kbi", source);
}

TEST_F(ImageWizards, OpenWizardRefusesWhatIsNotAWholeImage) {
  std::ofstream(m_folder + "/a.KBI") << "x";
  std::ofstream(m_folder + "/nolist.kbi") << "x";
  std::ofstream(m_folder + "/empty.kbi") << "x";
  std::ofstream(m_folder + "/empty.kbp");
  std::ofstream(m_folder + "/blank.kbi") << "x";
  std::ofstream(m_folder + "/blank.kbp") << m_folder << "/blank.kbi\r\n\r\n";
  std::ofstream(m_folder + "/relative.kbi") << "x";
  std::ofstream(m_folder + "/relative.kbp") << "part0.kbf\r\n";
  struct Case {
    const char* name;
    const char* message;
  } cases[] = {{"/a.KBI", "Can't open or it is not an Image File, please check the file!"},
               {"/missing.kbi", "Can't open or it is not an Image File, please check the file!"},
               {"/nolist.kbi", "Have not found kbp file, please check the path!"},
               {"/empty.kbi", "File error! please check the it!"},
               {"/blank.kbi", "File error! please check the it!"},
               {"/relative.kbi", "File error! please check the it!"}};
  for (const Case& c : cases) {
    messages.clear();
    COpenDiskImageMasterDlg wizard;
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(m_folder + c.name));
    wizard.OnNext();
    EXPECT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kPath) << c.name;
    ASSERT_EQ(messages.size(), 1u) << c.name;
    EXPECT_EQ(messages[0], c.message) << c.name;
  }
}

TEST_F(ImageWizards, OpenWizardFindsAMovedSliceAndRefusesAWrongOne) {
  const std::vector<uint8_t> source = RandomBytes((5 << 20) / 2, 13);
  const std::string descriptor = WriteImage(source, m_folder, 2048);
  const std::string part1 = PartFilePath(descriptor, 1);
  ASSERT_TRUE(fs::exists(PartFilePath(descriptor, 2)));
  fs::create_directories(m_folder + "/elsewhere");
  const std::string moved = m_folder + "/elsewhere/slice.kbf";
  fs::rename(part1, moved);
  // A file of another size, and the last slice's copy, are not the missing slice.
  const std::string wrong = m_folder + "/elsewhere/wrong.kbf";
  fs::copy_file(PartFilePath(descriptor, 2), wrong);

  COpenDiskImageMasterDlg wizard;
  wizard.show();
  Shot(wizard, "open_image_0_welcome");
  wizard.OnNext();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(descriptor));
  Shot(wizard, "open_image_1_path");
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSlices);
  EXPECT_EQ(wizard.GetBannerTitle(), "Correct error in Disk Image Configuration");
  EXPECT_FALSE(wizard.NextButton()->isEnabled());
  COpenDiskImageErrorManageDlg* slices = wizard.SlicePage();
  ASSERT_EQ(slices->RowCount(), 3);
  EXPECT_EQ(slices->RowText(0, 1), "VALID");
  EXPECT_EQ(slices->RowText(1, 1), "INVALID");
  EXPECT_EQ(slices->RowText(1, 2), part1);
  EXPECT_FALSE(slices->LocateButton()->isEnabled());
  slices->SelectRow(1);
  EXPECT_TRUE(slices->LocateButton()->isEnabled());
  Shot(wizard, "open_image_2_slices");

  chosen = {wrong};
  slices->LocateSlice();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "This is an INVALID file, please check it!");
  EXPECT_EQ(slices->RowText(1, 1), "INVALID");
  chosen = {PartFilePath(descriptor, 0)};  // already listed: ignored
  slices->LocateSlice();
  EXPECT_EQ(slices->RowText(1, 2), part1);
  chosen = {moved};
  slices->LocateSlice();
  EXPECT_EQ(slices->RowText(1, 1), "VALID");
  EXPECT_EQ(slices->RowText(1, 2), moved);
  EXPECT_TRUE(slices->IsAllValid());
  wizard.UpdateNextButton();
  EXPECT_TRUE(wizard.NextButton()->isEnabled());
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSuccess);
  Shot(wizard, "open_image_3_success");
  wizard.OnNext();
  EXPECT_TRUE(wizard.IsImageOpened());
  EXPECT_EQ(wizard.GetImagePath(), descriptor);

  std::ifstream list(PartListPath(descriptor), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            PartFilePath(descriptor, 0) + "\r\n" + moved + "\r\n" + PartFilePath(descriptor, 2) + "\r\n");
  ExpectImageHolds(descriptor, source);
}

TEST_F(ImageWizards, SliceListRemoveAndAdd) {
  const std::vector<uint8_t> source = RandomBytes((5 << 20) / 2, 17);
  const std::string descriptor = WriteImage(source, m_folder, 2048);
  const std::string last = PartFilePath(descriptor, 2);
  const std::string kept = m_folder + "/kept.kbf";
  fs::rename(last, kept);
  COpenDiskImageErrorManageDlg slices;
  slices.LoadSliceList(PartListPath(descriptor));
  ASSERT_EQ(slices.RowCount(), 3);
  EXPECT_FALSE(slices.IsAllValid());
  slices.SelectRow(2);
  slices.RemoveSlice();
  EXPECT_EQ(slices.RowCount(), 2);
  EXPECT_TRUE(slices.IsAllValid());
  EXPECT_FALSE(slices.RemoveButton()->isEnabled());
  chosen = {m_folder + "/nothing.kbf"};
  slices.AddSlice();
  EXPECT_EQ(messages.back(), "This is an INVALID file, please check it!");
  chosen = {kept};
  slices.AddSlice();
  ASSERT_EQ(slices.RowCount(), 3);
  EXPECT_EQ(slices.RowText(2, 2), kept);
  EXPECT_TRUE(slices.IsAllValid());
  ASSERT_TRUE(slices.SaveSliceList());
  ExpectImageHolds(descriptor, source);
  slices.ClearSliceList();
  EXPECT_EQ(slices.RowCount(), 0);
  EXPECT_FALSE(slices.IsAllValid());
}

// User nobody owns the destination folder and has planted its image's names as links into a folder
// of root's, one pointing nowhere: Next asks before anything is replaced, No keeps the page, Yes
// makes the image with files of its own and leaves root's folder as it was. A destination reached
// through nobody's link is refused, naming the link.
TEST_F(ImageWizards, DestinationFilesThatExistAreReplacedOnlyWhenTheUserSaysSo) {
  CORVALE_REQUIRE_ROOT();
  corvale::test::PublicScratchDir scratch;
  const std::string home = scratch.path() + "/H";
  const std::string roots = scratch.path() + "/V";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  ASSERT_EQ(mkdir(roots.c_str(), 0755), 0);
  std::ofstream(roots + "/list") << "root's";
  ASSERT_TRUE(corvale::test::RunAsOtherUser([&] {
    return symlink((roots + "/list").c_str(), (home + "/img.kbp").c_str()) == 0 &&
           symlink((roots + "/new").c_str(), (home + "/img.kbi").c_str()) == 0 &&
           symlink(roots.c_str(), (home + "/out").c_str()) == 0;
  }));
  const std::vector<uint8_t> source = RandomBytes(1 << 20, 21);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  wizard.OnNext();

  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(home + "/out/img"));
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
  EXPECT_EQ(messages, std::vector<std::string>{corvale::ui::RefusedLinkText(home + "/out")});
  EXPECT_TRUE(questions.empty());

  messages.clear();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(home + "/img"));
  answers = {MessageAnswer::No};
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0],
            "These files of the Disk Image exist already:\nimg.kbi\nimg.kbp\nDo you want to replace them?");
  answers = {MessageAnswer::Yes};
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  wizard.OnNext();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 60000))
      << (messages.empty() ? "" : messages.back());
  ExpectImageHolds(home + "/img.kbi", source);
  EXPECT_FALSE(fs::is_symlink(home + "/img.kbp"));
  EXPECT_EQ(FilesIn(roots), std::vector<std::string>{"list"});
  std::ifstream kept(roots + "/list");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), "root's");
}

// A destination on the disk being imaged is asked about first, as the target-folder step asks; No
// keeps the destination page and writes nothing.
TEST_F(ImageWizards, ADestinationOnTheDiskBeingImagedIsAskedAbout) {
  const std::vector<uint8_t> source = RandomBytes(1 << 20, 29);
  MemoryDevice device(source);
  struct stat folder {};
  ASSERT_EQ(stat(m_folder.c_str(), &folder), 0);
  CFileRecoverer::SetDeviceNumbersQuery([&](IStorageDevice* imaged) {
    return imaged == &device ? std::vector<uint64_t>{folder.st_dev} : std::vector<uint64_t>{};
  });
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  wizard.OnNext();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(m_folder + "/same-disk"));
  answers = {MessageAnswer::No};
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].rfind("CAUTION! The Disk Image is to be saved on the disk that is being imaged.", 0),
            0u)
      << questions[0];
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(FilesIn(m_folder).empty());
  answers = {MessageAnswer::Yes};
  wizard.OnNext();
  EXPECT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  CFileRecoverer::SetDeviceNumbersQuery({});
}

// A part list may name any file. Only the image's own part files (the names the writer gives them,
// in the image's folder) are taken from it; another file, even one that holds the right bytes, or
// one the system holds (/etc/passwd), is listed INVALID for the user to locate.
TEST_F(ImageWizards, OpenWizardListsFilesOtherThanTheImagesOwnPartsAsInvalid) {
  const std::vector<uint8_t> source = RandomBytes((5 << 20) / 2, 23);
  const std::string descriptor = WriteImage(source, m_folder, 2048);
  fs::create_directories(m_folder + "/elsewhere");
  const std::string copy = m_folder + "/elsewhere/copy.kbf";
  fs::copy_file(PartFilePath(descriptor, 1), copy);
  std::ofstream(PartListPath(descriptor), std::ios::binary | std::ios::trunc)
      << PartFilePath(descriptor, 0) << "\r\n"
      << copy << "\r\n"
      << "/etc/passwd\r\n";
  COpenDiskImageMasterDlg wizard;
  wizard.OnNext();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(descriptor));
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSlices);
  COpenDiskImageErrorManageDlg* slices = wizard.SlicePage();
  ASSERT_EQ(slices->RowCount(), 3);
  EXPECT_EQ(slices->RowText(0, 1), "VALID");
  EXPECT_EQ(slices->RowText(1, 1), "INVALID");
  EXPECT_EQ(slices->RowText(2, 1), "INVALID");
  EXPECT_EQ(slices->RowText(2, 2), "/etc/passwd");
  EXPECT_FALSE(slices->IsAllValid());
}

// The corrected list goes in by a rename: a link nobody put in the list's place is replaced, and
// the file of root's it pointed at stays as it was. The list keeps its owner and mode.
TEST_F(ImageWizards, TheRepairedSliceListNeverWritesThroughALink) {
  CORVALE_REQUIRE_ROOT();
  corvale::test::PublicScratchDir scratch;
  const std::string home = scratch.path() + "/H";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  const std::vector<uint8_t> source = RandomBytes((5 << 20) / 2, 27);
  const std::string descriptor = WriteImage(source, home, 2048);
  const std::string moved = home + "/moved.kbf";
  fs::rename(PartFilePath(descriptor, 2), moved);
  COpenDiskImageErrorManageDlg slices;
  slices.LoadSliceList(PartListPath(descriptor));
  ASSERT_EQ(slices.RowCount(), 3);
  slices.SelectRow(2);
  chosen = {moved};
  slices.LocateSlice();
  ASSERT_TRUE(slices.IsAllValid());
  const std::string roots = scratch.path() + "/V-list";
  std::ofstream(roots) << "root's";
  ASSERT_TRUE(corvale::test::RunAsOtherUser([&] {
    return unlink(PartListPath(descriptor).c_str()) == 0 &&
           symlink(roots.c_str(), PartListPath(descriptor).c_str()) == 0;
  }));
  ASSERT_TRUE(slices.SaveSliceList());
  std::ifstream kept(roots);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), "root's");
  struct stat st {};
  ASSERT_EQ(lstat(PartListPath(descriptor).c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_uid, corvale::test::kOtherUser) << "the list is the folder owner's";
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ExpectImageHolds(descriptor, source);
}

TEST(SliceListText, OnlyAbsolutePathsEndingInCrLf) {
  struct Case {
    const char* text;
    bool ok;
    size_t count;
  } cases[] = {{"", false, 0},
               {"/a.kbf\r\n", true, 1},
               {"/a.kbf\r\n/b.kbf\r\n", true, 2},
               {"/a.kbf\r\n\r\n", false, 0},
               {"a.kbf\r\n", false, 0},
               {"C:\\a.kbf\r\n", false, 0}};
  for (const Case& c : cases) {
    std::vector<std::string> paths;
    EXPECT_EQ(SplitSliceList(c.text, paths), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(paths.size(), c.count) << c.text;
    }
  }
}

// The texts of the create wizard's pages as shown, the default image name, and the region page's
// up-down controls clicked and arrowed.
TEST_F(ImageWizards, PagesShowTheirTextsAndTheRegionUpDownsStepTheirEdits) {
  std::string defaultName;
  const auto previous =
      corvale::dialogs::SetImageFileChooser([&](QWidget*, bool, const std::string& name, const std::string&) {
        defaultName = name;
        return m_folder + "/region";
      });
  MemoryDevice device(std::vector<uint8_t>(5000 * 512));
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
  const auto textsOf = [](QWidget* page) {
    std::vector<std::string> texts;
    for (QLabel* label : page->findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts.push_back(label->text().toStdString());
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>())
      if (!button->text().isEmpty()) texts.push_back(button->text().toStdString());
    return texts;
  };
  const auto expectTexts = [&](QWidget* page, std::vector<std::string> wanted) {
    const std::vector<std::string> shown = textsOf(page);
    for (const std::string& text : wanted)
      EXPECT_NE(std::find(shown.begin(), shown.end(), text), shown.end()) << "not shown: " << text;
  };
  expectTexts(wizard.ModePage(), {"Welcome to Disk Image Wizard of Corvale Hard Drive Data Recovery",
                                  "Select Drive To Image:", "To continue, click Next",
                                  "Advanced Wizard Mode:", "DATA (E:\\ NTFS)"});
  EXPECT_TRUE(wizard.ModePage()->SourceLabel()->font().bold());

  QCheckBox* advanced = wizard.ModePage()->AdvancedBox();
  QTest::mouseClick(advanced, Qt::LeftButton, {}, QPoint(5, advanced->height() / 2));
  QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kAdvancedPath);
  CImageDiskADPathChooseDlg* settings = wizard.AdvancedPathPage();
  expectTexts(settings, {"Disk Image File Name:", "PATH>>>", "Compress Disk Image File,compression level:",
                         "Split Disk Image into slices,maximum size of a slice file:"});
  const auto items = [](QComboBox* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->itemText(i).toStdString());
    return out;
  };
  EXPECT_EQ(items(settings->LevelList()), (std::vector<std::string>{"Fastest", "Normal", "Maximum"}));
  EXPECT_EQ(items(settings->SliceList()), (std::vector<std::string>{"4G", "2G", "1G", "640MB"}));
  QTest::mouseClick(settings->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(defaultName, std::string("QBX") + GetVersionString() + "_DiskImageFile.kbi");
  EXPECT_EQ(settings->PathEdit()->text().toStdString(), m_folder + "/region.kbi");
  QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRegion);

  CImageDiskSetRegionDlg* region = wizard.RegionPage();
  expectTexts(region,
              {"Select region on the source disk which you want to store in the Disk Image and click Next"});
  EXPECT_EQ(region->StartUpDown()->objectName(), "1093");
  EXPECT_EQ(region->EndUpDown()->objectName(), "1037");
  const auto start = [&] { return region->StartEdit()->text().toStdString(); };
  const auto end = [&] { return region->EndEdit()->text().toStdString(); };
  ASSERT_EQ(start(), "0");
  ASSERT_EQ(end(), "4999");
  // Down at the lowest sector and up at the highest change nothing.
  QTest::mouseClick(region->StartUpDown()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(start(), "0");
  QTest::mouseClick(region->EndUpDown()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(end(), "4999");
  QTest::mouseClick(region->StartUpDown()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(start(), "1");
  region->StartEdit()->setFocus();
  QTest::keyClick(region->StartEdit(), Qt::Key_Up);
  QTest::keyClick(region->StartEdit(), Qt::Key_Up);
  QTest::keyClick(region->StartEdit(), Qt::Key_Down);
  EXPECT_EQ(start(), "2");
  QTest::mouseClick(region->EndUpDown()->DownButton(), Qt::LeftButton);
  QTest::keyClick(region->EndEdit(), Qt::Key_Down);
  EXPECT_EQ(end(), "4997");
  QTest::keyClick(region->EndEdit(), Qt::Key_Up);
  EXPECT_EQ(end(), "4998");
  // The start never passes the end.
  region->StartEdit()->setText("4998");
  emit region->StartEdit()->textEdited("4998");
  QTest::mouseClick(region->StartUpDown()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(start(), "4998");
  QTest::mouseClick(region->EndUpDown()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(end(), "4998");
  QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  EXPECT_EQ(wizard.SummaryPage()->ValueText(1048), "4998---4998   Sectors");
  corvale::dialogs::SetImageFileChooser(previous);
}
