// The disk-image wizards: the sector-range selector, the create wizard's pages and run (into a
// scratch folder, a full small file system, and cancelled), and the open wizard with its slice
// repair on images written at test time.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "controls/SectorSelectCtrl.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"

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

TEST_F(ImageWizards, CancelDuringTheRunLeavesNoImage) {
  const std::vector<uint8_t> source = RandomBytes(48 << 20, 3);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  wizard.OnNext();
  wizard.PathPage()->PathEdit()->setText(QString::fromStdString(m_folder + "/cancelled"));
  wizard.OnNext();
  wizard.OnNext();
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRun);
  QTest::qWait(50);
  answers = {MessageAnswer::Cancel};  // "Cancel Disk Image?" answered Cancel: the run goes on
  wizard.OnCancel();
  EXPECT_TRUE(wizard.isVisible());
  wizard.OnCancel();  // now OK
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_FALSE(wizard.IsImageCreated());
  EXPECT_TRUE(FilesIn(m_folder).empty());
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
// stops at the low-space question, before the file system is full, and leaves nothing behind.
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
    answers = {MessageAnswer::No};  // no other place for the rest
    wizard.OnNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard.isVisible(); }, 120000));
    ASSERT_FALSE(questions.empty());
    EXPECT_NE(questions.front().find("The free space on the disk is not enough"), std::string::npos);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("not enough free space"), std::string::npos);
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
