// The quick search for lost partitions under its window, over a real disk whose partition table is
// gone: it finds the NTFS, FAT32 and Ext2 partitions at their starts, and Cancel stops it.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dialogs/LostPartitionSearchingDlg.h"
#include "storage/DiskDevice.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDevice.h"
#include "support/FaultyRawIo.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/UsageStatistics.h"

namespace fs = std::filesystem;
using corvale::test::SaveScreenshot;

namespace {

// Where lost_three_fs_disk.sh put its volumes.
const struct {
  uint64_t start;
  int32_t type;
} kPartitions[] = {{63, kFileSystemNtfs}, {32130, kFileSystemFat32}, {112518, kFileSystemExt2}};

class LostPartitionSearching : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("lost_three_fs_disk.sh", "lost_three_fs_disk", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();
    fs::copy_file(m_fixture + "/disk.img", m_folder + "/disk.img");
    setenv("CORVALE_DISKS", (m_folder + "/disk.img").c_str(), 1);
    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return corvale::ui::MessageAnswer::Yes;
        });
    m_previousRecorder =
        corvale::usage::SetRecorder([this](const corvale::usage::Record& r) { events.push_back(r); });
    window = std::make_unique<QWidget>();
    window->resize(900, 600);
    window->show();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    SetLostPartitionSearchShownHook(nullptr);
    window.reset();
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    corvale::usage::SetRecorder(m_previousRecorder);
    unsetenv("CORVALE_DISKS");
  }

  std::unique_ptr<QWidget> window;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::vector<corvale::usage::Record> events;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
  corvale::usage::Recorder m_previousRecorder;
};

TEST(LostPartitionSearchingWindow, RemainingTimeFollowsTheShareDone) {
  struct Case {
    int64_t total, done;
    uint64_t elapsedMs;
    const char* shown;
  };
  const Case cases[] = {
      {100, 0, 6000, "Calculating..."},   // nothing done yet
      {100, 50, 4999, "Calculating..."},  // the first five seconds
      {100, 50, 10000, "00:00:11"},       // as long again, and the second begun
      {100, 1, 3600000, "99:00:01"},      // hours do not wrap at 24
      {100, 150, 9000, "00:00:01"},       // more done than announced: nothing left
  };
  for (const Case& c : cases)
    EXPECT_EQ(CLostPartitionSearchingDialog::RemainingText(c.total, c.done, c.elapsedMs), c.shown)
        << c.total << " " << c.done << " " << c.elapsedMs;
}

TEST_F(LostPartitionSearching, TheSearchFindsTheThreeVolumesAtTheirStarts) {
  CImageFileDevice device(m_folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  bool shown = false;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
    shown = true;
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Quick Partition Searching");
    EXPECT_EQ(dialog.RemainingLabel()->text(), "00:00:00");
  });
  LostPartitionRecordList found;
  ASSERT_TRUE(RunLostPartitionSearch(&device, window.get(), found));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(window->isEnabled());
  ASSERT_EQ(found.size(), 3u);
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i]->StartSector, kPartitions[i].start);
    EXPECT_EQ(found[i]->FileSystemType, kPartitions[i].type);
    ASSERT_NE(found[i]->Device, nullptr);
  }
}

TEST_F(LostPartitionSearching, CancelAnsweredYesStopsTheSearch) {
  CImageFileDevice device(m_folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  CLostPartitionSearchingDialog* seen = nullptr;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
    seen = &dialog;
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.IsCancelled(), 1);
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Cancelling...");
    // A second Cancel asks nothing more.
    dialog.OnCancel();
  });
  LostPartitionRecordList found;
  ASSERT_TRUE(RunLostPartitionSearch(&device, window.get(), found));
  ASSERT_NE(seen, nullptr);
  EXPECT_TRUE(found.empty());
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Do you want to stop searching?");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, CLostPartitionSearchingDialog::kEventCancelled);
}

// The search is run with the disk's own geometry: a FAT16 volume on the cylinder grid of a
// 240-head disk (and on neither the 255-head grid nor a 1 MiB boundary) is found on a disk that
// says it has 240 heads, and not on one that says 255.
TEST(LostPartitionSearchingWindow, TheDisksOwnGeometryDecidesThe240HeadWalk) {
  corvale::test::TestApplication();
  if (!corvale::test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is not installed";
  const std::string volume = corvale::test::ScratchDir() + "/fat16.img";
  ASSERT_EQ(
      corvale::test::RunCommand("truncate -s 4M '" + volume +
                                "' && mkfs.fat -F 16 -S 512 -s 1 -n HEADS240 '" + volume + "' >/dev/null"),
      0);
  std::ifstream in(volume, std::ios::binary);
  const std::vector<uint8_t> fat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  constexpr uint64_t kStart = 240 * 63;  // cylinder 1 of a 240-head disk
  std::vector<uint8_t> disk(32768 * 512);
  std::copy(fat.begin(), fat.end(), disk.begin() + kStart * 512);

  for (const uint32_t heads : {240u, 255u}) {
    SCOPED_TRACE(heads);
    corvale::test::FaultyRawIo io;
    corvale::test::ScopedRawIo scoped(&io);
    corvale::test::FaultySource& source = io.Add("/dev/fake-240", disk);
    platform::DriveGeometry geometry;
    geometry.cylinders = 32768 / (heads * 63);
    geometry.tracksPerCylinder = heads;
    geometry.sectorsPerTrack = 63;
    geometry.bytesPerSector = 512;
    geometry.mediaType = platform::kMediaFixed;
    source.geometry = geometry;
    CDiskDevice device{std::string("/dev/fake-240")};
    ASSERT_TRUE(device.IsOpened());
    QWidget window;
    window.show();
    LostPartitionRecordList found;
    ASSERT_TRUE(RunLostPartitionSearch(&device, &window, found));
    if (heads == 240) {
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0]->StartSector, kStart);
      EXPECT_EQ(found[0]->FileSystemType, kFileSystemFat16);
      EXPECT_STREQ(found[0]->Label, "HEADS240");
    } else {
      EXPECT_TRUE(found.empty());
    }
  }
}

}  // namespace
