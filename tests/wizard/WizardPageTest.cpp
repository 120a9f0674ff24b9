// The page base, the controller interface's defaults, the source choice the controllers hand along,
// and the pages' and controllers' fixed answers: help topics, state numbers and recovery kinds.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "controls/RawFileTypeTreeCtrl.h"
#include "core/LostPartitionRecord.h"
#include "core/SearchedPartitionInfo.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "platform/RecoveryContext.h"
#include "storage/MemoryDevice.h"
#include "support/QtTestApp.h"
#include "ui/SourceRecords.h"
#include "wizard/MemoryDCPainter.h"
#include "wizard/ScanPartitionDeviceSelectPage.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"

namespace {

class WizardPage : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

// A controller that supplies only what has no default.
class MinimalController : public IWizardPageController {
 public:
  void Activate() override {}
  void Home() override {}
  void Back() override {}
  bool Next() override { return false; }
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }

 private:
  IWizardPageController* m_previous = nullptr;
};

// A page that records what it was asked to lay out and draw.
class RecordingPage : public CWizardPage {
 public:
  IWizardPageController* GetController() override { return nullptr; }
  int GetHelpContextId(int) override { return 0; }
  void Layout(int cx, int cy) override { layouts.push_back(QSize(cx, cy)); }
  void Draw(QPainter* dc) override {
    fontWeight = dc->font().weight();
    dc->fillRect(QRect(0, 0, 10, 10), Qt::red);
  }
  std::vector<QSize> layouts;
  int fontWeight = 0;
};

}  // namespace

TEST_F(WizardPage, BandsFollowTheWidthAndAreEmptyBelowAHundredPixels) {
  RecordingPage page;
  page.resize(1000, 578);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  EXPECT_EQ(page.TitleRect(), QRect(50, 0, 900, 30));
  EXPECT_EQ(page.SubtitleRect(), QRect(50, 30, 900, 31));
  EXPECT_EQ(page.BottomRect(), QRect(50, 578 - 36, 900, 26));
  ASSERT_FALSE(page.layouts.empty());
  EXPECT_EQ(page.layouts.back(), QSize(1000, 578));

  page.resize(80, 200);
  QCoreApplication::processEvents();
  for (QRect band : {page.TitleRect(), page.SubtitleRect(), page.BottomRect()}) {
    EXPECT_TRUE(band.isEmpty());
    EXPECT_LT(band.left() + band.width(), band.left()) << "right edge left of the left edge";
  }
}

TEST_F(WizardPage, PaintsWhiteThenItsOwnDrawingInTheBoldPageFont) {
  RecordingPage page;
  page.resize(200, 100);
  QImage shown = page.grab().toImage();
  EXPECT_EQ(shown.pixelColor(5, 5), QColor(Qt::red));
  EXPECT_EQ(shown.pixelColor(150, 50), QColor(Qt::white));
  EXPECT_EQ(page.fontWeight, QFont::Bold);
  EXPECT_EQ(page.BoldFont().pointSize(), 10);
}

TEST_F(WizardPage, EnterPressesTheFocusedButtonAndEscapeIsSwallowed) {
  QWidget parent;
  auto* page = new RecordingPage;
  page->setParent(&parent);
  auto* button = new QPushButton("Refresh", page);
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Return);
  QTest::qWait(300);  // the press is shown for a moment before the click
  EXPECT_EQ(clicks, 1);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(page, &escape);
  EXPECT_TRUE(escape.isAccepted());
}

TEST_F(WizardPage, ControllerDefaultsKeepNoStateAndBelongToNoRecovery) {
  MinimalController controller;
  EXPECT_EQ(controller.RestoreState(nullptr, nullptr), 0);
  EXPECT_EQ(controller.SaveState(nullptr, nullptr), 0);
  EXPECT_EQ(controller.GetStateTypeId(), kStateTypeNotSaved);
  EXPECT_EQ(controller.GetRecoveryKind(), kRecoveryKindNone);
  CSourceDeviceChoice none = controller.GetSourceSelection();
  EXPECT_EQ(none.GetKind(), CSourceDeviceChoice::kDisk);
  EXPECT_EQ(none.GetDiskRecord(), nullptr);
  EXPECT_EQ(none.GetSourceDevice(), nullptr);
  // Option opens the settings in the mode of most pages, without the RAW type tree.
  bool opened = false;
  corvale::test::HandleNextModalDialog([&](QDialog& dialog) {
    auto* settings = qobject_cast<CAdvanceSettingMasterDlg*>(&dialog);
    opened = settings != nullptr;
    if (settings) {
      EXPECT_EQ(settings->Mode(), 0);
      EXPECT_FALSE(settings->RawPage()->Tree()->isEnabled());
    }
    dialog.reject();
  });
  controller.ShowAdvancedSettings();
  EXPECT_TRUE(opened);
  controller.Cleanup();
}

TEST_F(WizardPage, TheSourceChoiceGivesTheRecordOfItsKindAndItsDevice) {
  MemoryDevice disk(std::vector<uint8_t>(4096));
  MemoryDevice volume(std::vector<uint8_t>(4096));
  MemoryDevice partition(std::vector<uint8_t>(4096));
  DiskRecord diskRecord;
  diskRecord.Device = &disk;
  VolumeRecord volumeRecord;
  volumeRecord.Device = &volume;
  CLostPartitionRecord found;
  found.Device = &partition;

  CSourceDeviceChoice byDisk(&diskRecord);
  EXPECT_EQ(byDisk.GetKind(), 0);
  EXPECT_EQ(byDisk.GetDiskRecord(), &diskRecord);
  EXPECT_EQ(byDisk.GetPartitionRecord(), nullptr);
  EXPECT_EQ(byDisk.GetOtherRecord(), nullptr);
  EXPECT_EQ(byDisk.GetSourceDevice(), &disk);

  CSourceDeviceChoice byVolume(&volumeRecord);
  EXPECT_EQ(byVolume.GetKind(), 1);
  EXPECT_EQ(byVolume.GetDiskRecord(), nullptr);
  EXPECT_EQ(byVolume.GetPartitionRecord(), &volumeRecord);
  EXPECT_EQ(byVolume.GetSourceDevice(), &volume);

  CSourceDeviceChoice byFound(&found);
  EXPECT_EQ(byFound.GetKind(), 2);
  EXPECT_EQ(byFound.GetOtherRecord(), &found);
  EXPECT_EQ(byFound.GetPartitionRecord(), nullptr);
  EXPECT_EQ(byFound.GetSourceDevice(), &partition);

  EXPECT_EQ(CSourceDeviceChoice(static_cast<DiskRecord*>(nullptr)).GetSourceDevice(), nullptr);
}

TEST_F(WizardPage, EveryPageHasItsControllerStateNumberRecoveryKindAndHelpTopic) {
  const struct {
    WIZARD_PAGE page;
    int stateType;
  } states[] = {
      {DeleteRecoveryPartitionDeviceSelect, 6},
      {CompleteRecoveryPartitionDeviceSelect, 0},
      {LostRecoveryDiskDeviceSelect, 2},
      {LostRecoveryPartitionDeviceSelect, 3},
      {SaveResult, 6},
      {SaveFile, 6},
      {CompleteRecoveryScanPartitionDeviceSelect, 1},
      {LostRecoveryScanPartitionDeviceSelect, 4},
      {FileSelect, 5},
  };
  for (const auto& c : states) {
    ASSERT_NE(GetPageController(c.page), nullptr) << c.page;
    EXPECT_EQ(GetPageController(c.page)->GetStateTypeId(), c.stateType) << c.page;
  }
  EXPECT_EQ(GetPageController(static_cast<WIZARD_PAGE>(-1)), nullptr);
  EXPECT_EQ(GetPageController(static_cast<WIZARD_PAGE>(kWizardPageCount)), nullptr);

  // The first steps of the three recoveries belong to their kind; later steps to their chain's.
  EXPECT_EQ(GetPageController(DeleteRecoveryPartitionDeviceSelect)->GetRecoveryKind(), kRecoveryKindDeleted);
  EXPECT_EQ(GetPageController(CompleteRecoveryPartitionDeviceSelect)->GetRecoveryKind(),
            kRecoveryKindComplete);
  EXPECT_EQ(GetPageController(LostRecoveryDiskDeviceSelect)->GetRecoveryKind(), kRecoveryKindPartition);
  IWizardPageController* files = GetPageController(FileSelect);
  IWizardPageController* previous = files->GetPreviousController();
  files->SetPreviousController(nullptr);
  EXPECT_EQ(files->GetRecoveryKind(), kRecoveryKindNone) << "a later step without a chain belongs to none";
  files->SetPreviousController(GetPageController(CompleteRecoveryPartitionDeviceSelect));
  EXPECT_EQ(files->GetRecoveryKind(), kRecoveryKindComplete);
  files->SetPreviousController(previous);

  // The pages the sheet is made of, each tied to its own controller.
  const int helpTopics[kWizardPageCount] = {15, 16, 50, 51, 51, 27, 25, 50, 51, 23, 52};
  QWidget sheet;
  const std::array<CWizardPage*, kWizardPageCount> pages = CreateWizardPages(&sheet);
  for (int i = 0; i < kWizardPageCount; ++i) {
    const auto page = static_cast<WIZARD_PAGE>(i);
    ASSERT_NE(pages[i], nullptr) << i;
    EXPECT_EQ(pages[i]->GetHelpContextId(0), helpTopics[i]) << i;
    EXPECT_EQ(pages[i]->GetController(), GetPageController(page)) << i;
  }
  ReleaseWizardPages(pages);
}

TEST_F(WizardPage, ScanPartitionRowsShowExtSectorsAndTheSearchsRecommendation) {
  CSearchedPartitionInfo record(512);
  record.SetStartSector(2048);
  record.SetSectorCount(1000);
  int64_t start = 0;
  int64_t end = 0;
  CScanPartitionDeviceSelectPage::ExtRowSectors(record, &start, &end);
  EXPECT_EQ(start, 2048);
  EXPECT_EQ(end, 3047);
  record.SetSectorCount(INT64_MAX);
  CScanPartitionDeviceSelectPage::ExtRowSectors(record, &start, &end);
  EXPECT_EQ(start, 2048) << "a sum past the 64-bit range is no crash";

  const int marks[][2] = {{1, 1}, {2, 2}, {0, 0}, {3, 0}, {-1, 0}};
  for (const auto& m : marks) EXPECT_EQ(CScanPartitionDeviceSelectPage::RecommendationOf(m[0]), m[1]) << m[0];
}

TEST_F(WizardPage, TheOffScreenPainterReachesTheWindowOnlyWhenItGoesAway) {
  QImage target(20, 20, QImage::Format_RGB32);
  target.fill(Qt::white);
  QPainter painter(&target);
  {
    CMemoryDCPainter memory(&painter, 20, 20);
    memory.DC()->fillRect(QRect(0, 0, 20, 20), Qt::blue);
    EXPECT_EQ(target.pixelColor(10, 10), QColor(Qt::white));
  }
  painter.end();
  EXPECT_EQ(target.pixelColor(10, 10), QColor(Qt::blue));
}
