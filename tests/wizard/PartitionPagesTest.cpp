// The pages that list found partitions (the scan-partition pages and the lost-partition page), their
// list and layout picture, and the property dialogs, each on its own with fake controllers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "controls/LostPartitionCtrlContainer.h"
#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"
#include "controls/TransButton.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "core/LostPartitionRecord.h"
#include "core/SourceRecords.h"
#include "dialogs/PropertiesDlg.h"
#include "ext2/Ext2SearchedPartitionInfo.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/controller/ILostRecoveryPartitionDeviceSelectController.h"

namespace {

using Rows = std::vector<std::unique_ptr<CSearchedPartitionInfo>>;

std::vector<CSearchedPartitionInfo*> Pointers(const Rows& rows) {
  std::vector<CSearchedPartitionInfo*> out;
  for (const auto& row : rows) out.push_back(row.get());
  return out;
}

std::unique_ptr<CSearchedPartitionInfo> Ntfs(int64_t start, int64_t count, double weight, int32_t mark = 0) {
  auto info = std::make_unique<CSearchedNTFSPartitionInfo>(512);
  info->SetFileSystemType(kFileSystemNtfs);
  info->SetStartSector(start);
  info->SetSectorCount(count);
  info->SetWeight(weight);
  info->SetChosenMark(mark);
  return info;
}

std::unique_ptr<CSearchedPartitionInfo> Fat(int64_t start, int64_t count, uint32_t flags,
                                            double weight = 0.5) {
  auto info = std::make_unique<CFATSearchedPartitionInfo>(512);
  info->SetFileSystemType(kFileSystemFat32);
  info->SetStartSector(start);
  info->SetSectorCount(count);
  info->SetEvidenceFlags(flags);
  info->SetWeight(weight);
  return info;
}

std::unique_ptr<CSearchedPartitionInfo> Ext(int64_t start, int64_t count) {
  auto info = std::make_unique<CExt2SearchedPartitionInfo>(512);
  info->SetFileSystemType(kFileSystemExt2);
  info->SetStartSector(start);
  info->SetSectorCount(count);
  return info;
}

void Shoot(QWidget& widget, const std::string& name) {
  widget.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(corvale::test::SaveScreenshot(widget.grab().toImage(), name).empty()) << name;
}

// The scan-partition page of format recovery on its own.
class ScanPartitionPage : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    page = std::make_unique<CCompleteRecoveryScanPartitionDeviceSelectPage>();
    page->resize(1000, 560);
    page->show();
    QCoreApplication::processEvents();
  }
  CMultipleChoosePartitionListCtrl* List() { return page->PartitionList(); }
  CPartitionLayoutView* View() { return page->Container()->GetLayoutView(); }
  // A click on the tick box of a row's name, or of one of its alternatives, as the user gives it.
  void ClickName(int row) {
    const QRect box = List()->NameCheckRect(row);
    ASSERT_FALSE(box.isEmpty()) << row;
    QTest::mouseClick(List()->Table()->viewport(), Qt::LeftButton, {}, box.center());
  }
  void ClickOption(int row, int option) {
    const QRect box = List()->OptionCheckRect(row, option);
    ASSERT_FALSE(box.isEmpty()) << row << " " << option;
    QTest::mouseClick(List()->Table()->viewport(), Qt::LeftButton, {}, box.center());
  }

  std::unique_ptr<CCompleteRecoveryScanPartitionDeviceSelectPage> page;
};

TEST_F(ScanPartitionPage, TheSuggestionThresholdComesFromTheWeightsAtMostOneInHundredShort) {
  struct Case {
    std::vector<double> weights;
    double threshold;
  } cases[] = {
      {{}, 0.5},
      {{1.0, 0.995}, 0.5},     // none at or below 0.99
      {{0.3}, 0.3},            // a single such weight is its own mean
      {{1.0, 0.2, 0.6}, 0.4},  // mean of smallest and largest at or below 0.99
      {{0.99, 0.1}, 0.545},    // 0.99 itself counts
  };
  for (const Case& c : cases) {
    Rows rows;
    for (double w : c.weights) rows.push_back(Ntfs(0, 100, w));
    EXPECT_DOUBLE_EQ(CScanPartitionDeviceSelectPage::SuggestionThreshold(Pointers(rows)), c.threshold);
    page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);
    EXPECT_DOUBLE_EQ(List()->GetSizeScale(), c.threshold);
  }
}

TEST_F(ScanPartitionPage, EachFamilyShowsAtMostAHundredRowsCountedApart) {
  Rows rows;
  for (int i = 0; i < 150; ++i) rows.push_back(Ntfs(i * 1000, 500, 0.5));
  rows.push_back(Fat(900000, 100, 0));
  rows.push_back(Ext(910000, 100));
  auto raw = std::make_unique<CSearchedPartitionInfo>(512);
  raw->SetFileSystemType(kFileSystemRaw);
  rows.push_back(std::move(raw));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);
  ASSERT_EQ(page->GetPartitionCount(), 102);
  EXPECT_EQ(page->GetPartitionAt(99), rows[99].get());
  EXPECT_EQ(page->GetPartitionAt(100), rows[150].get()) << "the FAT row follows the hundredth NTFS row";
  EXPECT_EQ(page->GetPartitionAt(101), rows[151].get());
  EXPECT_EQ(page->GetPartitionAt(102), nullptr);
  EXPECT_EQ(List()->CellText(0, 0).toStdString(), "Partition 1 NTFS");
  EXPECT_EQ(List()->CellText(101, 0).toStdString(), "Partition 102 EXT2");
}

TEST_F(ScanPartitionPage, RowsEndOnTheirLastSectorInEveryFamily) {
  Rows rows;
  rows.push_back(Ntfs(2048, 2048, 0.5));
  rows.push_back(Fat(8192, 2048, 0));
  rows.push_back(Ext(16384, 2048));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);
  for (int row = 0; row < 3; ++row) {
    const FoundPartitionRow* shown = List()->GetRow(row);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->LastSector - shown->FirstSector + 1, 2048u) << row;
    EXPECT_EQ(List()->CellText(row, 1).toStdString(), "1.00 MB") << row;
  }
}

TEST_F(ScanPartitionPage, FatCopiesAndTheMftGiveAlternativesThatWriteBackIntoTheRecord) {
  Rows rows;
  rows.push_back(Fat(0, 100, kFatFoundSecondCopy));
  rows.push_back(Fat(200, 100, kFatFoundFirstCopy | kFatUseFirstCopy | kFatFoundSecondCopy));
  rows.push_back(Ntfs(400, 100, 0.5));
  auto withMft = Ntfs(600, 100, 0.5);
  static_cast<CSearchedNTFSPartitionInfo*>(withMft.get())->SetMftSector(632);
  rows.push_back(std::move(withMft));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);

  auto* onlySecond = static_cast<CFATSearchedPartitionInfo*>(rows[0].get());
  EXPECT_EQ(List()->GetRow(0)->OptionCount, 1);
  EXPECT_EQ(List()->CellText(0, 3).toStdString(), "FAT2");
  ClickOption(0, 0);
  EXPECT_EQ(onlySecond->GetEvidenceFlags(), kFatFoundSecondCopy | kFatUseSecondCopy);
  ClickOption(0, 0);
  EXPECT_EQ(onlySecond->GetEvidenceFlags(), kFatFoundSecondCopy);

  auto* both = static_cast<CFATSearchedPartitionInfo*>(rows[1].get());
  EXPECT_EQ(List()->CellText(1, 3).toStdString(), "FAT1 FAT2");
  EXPECT_TRUE(List()->GetOptionCheck(1, 0));
  EXPECT_FALSE(List()->GetOptionCheck(1, 1));
  ClickOption(1, 0);
  ClickOption(1, 1);
  EXPECT_EQ(both->GetEvidenceFlags(), kFatFoundFirstCopy | kFatFoundSecondCopy | kFatUseSecondCopy);

  EXPECT_EQ(List()->GetRow(2)->OptionCount, 0) << "no $MFT position, no alternative";
  EXPECT_EQ(List()->CellText(2, 3).toStdString(), "");
  EXPECT_TRUE(List()->OptionCheckRect(2, 0).isEmpty()) << "no box to click";
  EXPECT_EQ(List()->CellText(3, 3).toStdString(), "$MFT Only");
  ClickOption(3, 0);
  EXPECT_TRUE(static_cast<CSearchedNTFSPartitionInfo*>(rows[3].get())->GetFilesOfMftOnly());
  // Another column or an alternative past the second changes nothing.
  page->OnAlternativeChanged(1, 2, 0, 1);
  page->OnAlternativeChanged(1, 3, 2, 1);
  EXPECT_EQ(both->GetEvidenceFlags(), kFatFoundFirstCopy | kFatFoundSecondCopy | kFatUseSecondCopy);
  Shoot(*page, "partition-pages-scan-alternatives");
}

TEST_F(ScanPartitionPage, TheModeLimitsHowManyRecommendedRowsTickThemselves) {
  Rows rows;
  for (int i = 0; i < 6; ++i) rows.push_back(Ntfs(i * 1000, 500, 0.5 + i * 0.01, 1));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);
  EXPECT_EQ(page->GetCheckedCount(), 4);
  for (int row = 0; row < 6; ++row) {
    EXPECT_EQ(page->GetCheck(row), row < 4 ? 1 : 0) << row;
    EXPECT_EQ(List()->CellText(row, 0).endsWith("(recommended)"), row < 4) << row;
    EXPECT_EQ(List()->NameColour(row), CMultipleChoosePartitionListCtrl::kRecommendedColour) << row;
  }
  EXPECT_EQ(page->GetCheckedPartitions().size(), 4u);

  // Mode 1 keeps only the heaviest recommended (the first of equals).
  rows.push_back(Ntfs(9000, 500, 0.55, 0));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeVolume);
  ASSERT_EQ(page->GetCheckedPartitions().size(), 1u);
  EXPECT_EQ(page->GetCheckedPartitions()[0], rows[5].get());
  for (int row = 0; row < 7; ++row) EXPECT_EQ(rows[row]->GetChosenMark(), row == 5 ? 1 : 0);
}

TEST_F(ScanPartitionPage, TheVolumeModeAllowsTwoTicksWhenALaterRowSpansTheDevice) {
  Rows rows;
  rows.push_back(Ntfs(0, 500, 0.9, 1));
  rows.push_back(Ntfs(0, 1000, 0.8, 1));
  VolumeRecord volume;
  volume.DriveLetter = 'E';
  volume.VolumeName = "DATA";
  volume.FileSystemTypeCode = kFileSystemNtfs;
  volume.SectorCount = 1000;
  page->ShowForVolume(Pointers(rows), volume);
  EXPECT_EQ(List()->GetAutoCheckLimit(), 1);
  rows[1]->SetWholeDeviceMark(1);
  rows[0]->SetChosenMark(1);
  rows[1]->SetChosenMark(1);
  page->ShowForVolume(Pointers(rows), volume);
  EXPECT_EQ(List()->GetAutoCheckLimit(), 2);
  EXPECT_EQ(page->GetCheckedCount(), 2);
  EXPECT_EQ(page->Container()->GetLayoutFrame()->Title().toStdString(),
            "Partitions layout on the partition\"E : DATA  (NTFS)\":");
  Shoot(*page, "partition-pages-7-volume-scan");
}

TEST_F(ScanPartitionPage, SuggestionTextsAndNameColours) {
  Rows rows;
  rows.push_back(Ntfs(0, 100, 0.995, 0));
  rows.push_back(Ntfs(100, 100, 0.99, 2));
  rows.push_back(Ntfs(200, 100, 0.5, 7));
  rows.push_back(Ntfs(300, 100, 0.1, 0));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);  // threshold 0.545
  EXPECT_EQ(List()->CellText(0, 2).toStdString(), "High");
  EXPECT_EQ(List()->CellText(1, 2).toStdString(), "Medium") << "0.99 is not High";
  EXPECT_EQ(List()->CellText(2, 2).toStdString(), "Low");
  EXPECT_EQ(List()->NameColour(1), CMultipleChoosePartitionListCtrl::kSecondColour);
  EXPECT_EQ(List()->NameColour(2), QColor(Qt::black)) << "an unknown mark shows as none";
}

TEST_F(ScanPartitionPage, TickingNamesAddsAndRemovesBoxesRowByRow) {
  Rows rows;
  rows.push_back(Ntfs(0, 1000, 0.5));
  rows.push_back(Ntfs(5000, 1000, 0.5));
  rows.push_back(Fat(500, 1000, 0));
  DiskRecord disk;
  disk.DisplayText = "Test Disk";
  disk.SectorCount = 10000;
  disk.IsUsb = 1;
  page->ShowForDisk(Pointers(rows), disk);
  EXPECT_EQ(page->Container()->GetLayoutFrame()->Title().toStdString(),
            "Partitions layout on the disk \"Test Disk\":");
  EXPECT_EQ(View()->GetContentHeight(), 80) << "no rows still reserve one";
  ClickName(0);
  ClickName(1);
  ASSERT_EQ(View()->Rows().size(), 1u) << "two disjoint partitions share a row";
  ClickName(2);
  ASSERT_EQ(View()->Rows().size(), 2u) << "an overlapping one gets its own";
  EXPECT_EQ(View()->GetContentHeight(), 160);
  EXPECT_EQ(page->Container()->GetLayoutFrame()->CardHeight(), 160);
  ClickName(2);
  EXPECT_EQ(View()->Rows().size(), 1u);
  ClickName(0);
  ASSERT_EQ(View()->Rows().size(), 1u);
  EXPECT_EQ(View()->Rows()[0].Boxes.size(), 1u);
  EXPECT_EQ(View()->Rows()[0].Boxes[0].Info.FirstSector, 5000u);
  EXPECT_EQ(page->GetCheckedCount(), 1);
  EXPECT_EQ(page->GetCheck(1), 1);
  Shoot(*page, "partition-pages-scan-list");
}

TEST(PartitionLayoutView, BoxesAreShrunkOnlyWhenWideEnough) {
  corvale::test::TestApplication();
  const QRect row(0, 0, 1000, 80);
  PartitionBoxInfo wide{"w", kFileSystemNtfs, 0, 499, 512, 1.0};
  EXPECT_EQ(CPartitionLayoutView::PlaceBox(wide, row, 1000), QRect(3, 3, 493, 74));
  PartitionBoxInfo narrow{"n", kFileSystemNtfs, 100, 103, 512, 1.0};
  EXPECT_EQ(CPartitionLayoutView::PlaceBox(narrow, row, 1000), QRect(100, 3, 3, 74));
  PartitionBoxInfo past{"p", kFileSystemNtfs, 900, UINT64_MAX, 512, 1.0};
  EXPECT_LE(CPartitionLayoutView::PlaceBox(past, row, 1000).right(), 1000) << "a damaged record stays inside";
  PartitionBoxInfo other{"o", kFileSystemNtfs, 0, 499, 4096, 1.0};
  EXPECT_FALSE(wide.Overlaps(other)) << "different sector sizes never overlap";
  EXPECT_TRUE(wide.Overlaps(PartitionBoxInfo{"x", kFileSystemFat32, 499, 600, 512, 0.1}));
}

// A row's boxes keep in proportion to their sectors where they can, but every box is at least the
// least width, pushing its neighbours aside: boxes never overlap, keep their order and stay in the
// row; a row too narrow for them all gives each an equal share.
TEST(PartitionLayoutView, EveryBoxOfARowGetsItsLeastWidthWithoutOverlapping) {
  corvale::test::TestApplication();
  const uint64_t disk = 1000000;
  const auto box = [](uint64_t first, uint64_t last) {
    return PartitionBoxInfo{"p", kFileSystemNtfs, first, last, 512, 1.0};
  };
  const struct {
    const char* name;
    int width;
    std::vector<PartitionBoxInfo> boxes;
  } cases[] = {
      {"large boxes keep their proportion", 1000, {box(0, 499999), box(500000, 999999)}},
      {"tiny partitions between large ones",
       1000,
       {box(0, 300000), box(300001, 300010), box(300011, 300020), box(300021, 999999)}},
      {"tiny partitions at the disk's end", 800, {box(0, 999000), box(999001, 999500), box(999501, 999999)}},
      {"given out of order", 600, {box(999001, 999999), box(0, 10), box(11, 20)}},
      {"more boxes than the row holds at the least width",
       200,
       {box(0, 10), box(11, 20), box(21, 30), box(31, 40), box(41, 50)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QRect row(0, 0, c.width, CPartitionLayoutView::kRowHeight);
    const std::vector<QRect> placed = CPartitionLayoutView::PlaceRowBoxes(c.boxes, row, disk);
    ASSERT_EQ(placed.size(), c.boxes.size());
    const int least =
        std::min<int>(CPartitionLayoutView::kLeastBoxWidth, c.width / static_cast<int>(c.boxes.size()));
    std::vector<size_t> order(c.boxes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return c.boxes[a].FirstSector < c.boxes[b].FirstSector; });
    for (size_t k = 0; k < order.size(); ++k) {
      const QRect& r = placed[order[k]];
      // The box with its 3-pixel margins on either side.
      EXPECT_GE(r.width() + 6, least) << k;
      EXPECT_GE(r.left() - 3, 0) << k;
      EXPECT_LE(r.right() + 1 + 3, c.width) << k;
      if (k > 0) {
        EXPECT_GT(r.left(), placed[order[k - 1]].right()) << k << " keeps right of its neighbour";
      }
    }
  }
  // Where the least width asks nothing, a box lies exactly where its sectors say.
  const std::vector<QRect> wide =
      CPartitionLayoutView::PlaceRowBoxes({box(0, 499999)}, QRect(0, 0, 1000, 80), disk);
  EXPECT_EQ(wide[0], CPartitionLayoutView::PlaceBox(box(0, 499999), QRect(0, 0, 1000, 80), disk));
}

// A second and a third row of the picture get their room instead of a scroll bar (as far as the
// list above keeps some room, and no higher than the picture's highest), and the picture shrinks
// back when they go.
TEST(PartitionContainer, ThePictureGrowsForItsRowsAndShrinksBack) {
  corvale::test::TestApplication();
  CLostPartitionCtrlContainer container;
  container.resize(800, 600);
  container.show();
  QCoreApplication::processEvents();
  CPartitionLayoutView* view = container.GetLayoutView();
  container.GetLayoutFrame()->SetDiskInfo(DiskLayoutInfo{"disk", DiskLayoutInfo::kDisk, 1000000, 512});
  const PartitionBoxInfo a{"a", kFileSystemNtfs, 0, 600000, 512, 1.0};
  const PartitionBoxInfo b{"b", kFileSystemFat32, 500000, 900000, 512, 1.0};
  const PartitionBoxInfo c{"c", kFileSystemExt2, 550000, 950000, 512, 1.0};
  view->AddPartitionBox(a);
  view->AddPartitionBox(b);
  view->AddPartitionBox(c);
  ASSERT_EQ(view->Rows().size(), 3u) << "each overlaps the others";
  QCoreApplication::processEvents();
  EXPECT_EQ(container.GetLayoutFrame()->height(), CPartitionLayoutFrame::kTitleHeight + 3 * 80);
  EXPECT_GE(view->viewport()->height(), 3 * 80) << "every row shows";
  EXPECT_FALSE(view->verticalScrollBar()->isVisible());

  view->RemovePartitionBox(c);
  view->RemovePartitionBox(b);
  QCoreApplication::processEvents();
  EXPECT_EQ(container.GetLayoutFrame()->height(), CLostPartitionCtrlContainer::kLayoutHeight);

  // In a short page the list keeps its room and the picture scrolls.
  container.resize(800, 250);
  QCoreApplication::processEvents();
  view->AddPartitionBox(b);
  view->AddPartitionBox(c);
  QCoreApplication::processEvents();
  EXPECT_LE(container.GetLayoutFrame()->height(), 250 - CLostPartitionCtrlContainer::kListKeepsHeight);
  EXPECT_GE(container.GetPartitionListCtrl()->height(), CLostPartitionCtrlContainer::kListKeepsHeight - 5);
}

TEST(PartitionContainer, ThePictureKeepsItsHeightWhenThePageGrows) {
  corvale::test::TestApplication();
  CLostPartitionCtrlContainer container;
  container.resize(800, 400);
  container.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(container.GetLayoutFrame()->height(), CLostPartitionCtrlContainer::kLayoutHeight);
  container.resize(800, 700);
  QCoreApplication::processEvents();
  EXPECT_EQ(container.GetLayoutFrame()->height(), CLostPartitionCtrlContainer::kLayoutHeight);
  container.Splitter()->setSizes({600, 40});
  EXPECT_EQ(container.GetLayoutFrame()->height(), CLostPartitionCtrlContainer::kLayoutMinHeight);
}

TEST(ScanPartitionPages, EachPageHasItsHelpTopicAndShowsItsProperties) {
  corvale::test::TestApplication();
  CLostRecoveryScanPartitionDeviceSelectPage page;
  EXPECT_EQ(page.GetHelpContextId(0), 51);
  EXPECT_EQ(CCompleteRecoveryScanPartitionDeviceSelectPage().GetHelpContextId(0), 50);
  page.resize(1000, 560);
  Rows rows;
  rows.push_back(Fat(63, 204800, kFatFromFat32BootSector | kFatFoundFirstCopy | kFatFoundSecondCopy));
  rows.push_back(Ntfs(300000, 409600, 1.0, 1));
  DiskRecord image;
  image.Kind = kSourceKindImage;
  image.DisplayText = "backup.img";
  image.SectorCount = 1000000;
  page.ShowForDisk(Pointers(rows), image);
  EXPECT_EQ(page.Container()->GetLayoutFrame()->Title().toStdString(),
            "Partitions layout on the disk image\"backup.img\":");
  Shoot(page, "partition-pages-8-disk-scan");

  std::vector<std::string> shown;
  page.SetDialogRunner([&](QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      shown.push_back(list->topLevelItem(i)->text(0).toStdString() + "=" +
                      list->topLevelItem(i)->text(1).toStdString());
    Shoot(dialog, "partition-pages-partition-properties");
  });
  EXPECT_TRUE(page.OnCommand(CScanPartitionDeviceSelectPage::kCommandProperties));
  EXPECT_TRUE(shown.empty()) << "no row selected, no dialog";
  page.PartitionList()->SetCurSel(0);
  page.OnCommand(CScanPartitionDeviceSelectPage::kCommandProperties);
  ASSERT_EQ(shown.size(), 16u);
  EXPECT_EQ(shown[1], "File System=    FAT32");
  EXPECT_EQ(shown[2], "From FAT32 DBR=Yes");
  EXPECT_EQ(shown[3], "From FAT32 Backup DBR=-");
  EXPECT_EQ(shown[10], "Found FAT1=Yes");
  EXPECT_EQ(shown[11], "Found FAT2=Yes");
  EXPECT_EQ(shown[15], "Partition Sectors Count=204800");
}

// The user opens a found partition's properties from the page: a click on its row and the
// Properties button, or Alt+Enter in the list; a right click only ticks and selects.
TEST_F(ScanPartitionPage, ThePropertiesOfTheSelectedRowOpenFromTheButtonAndAltEnter) {
  Rows rows;
  rows.push_back(Ntfs(2048, 409600, 0.5));
  rows.push_back(Fat(500000, 204800, kFatFromFat32BootSector | kFatFoundFirstCopy));
  page->FillPartitions(Pointers(rows), CScanPartitionDeviceSelectPage::kModeDisk);
  std::vector<std::string> opened;
  page->SetDialogRunner([&](QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>();
    ASSERT_NE(list, nullptr);
    ASSERT_GT(list->topLevelItemCount(), 1);
    opened.push_back(list->topLevelItem(1)->text(1).toStdString());
  });
  QPushButton* button = page->PropertiesButton();
  ASSERT_TRUE(button->isVisible());
  EXPECT_TRUE(page->TitleRect().contains(button->geometry()));
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(opened.empty()) << "no row selected, no dialog";

  // A click on the name's text (beside its box) selects the row without ticking it.
  const QRect box = List()->NameCheckRect(1);
  QTest::mouseClick(List()->Table()->viewport(), Qt::LeftButton, {}, box.center() + QPoint(60, 0));
  EXPECT_EQ(page->GetCurSel(), 1);
  EXPECT_EQ(page->GetCheck(1), 0);
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "    FAT32") << "the FAT table's file-system row";

  // A right click on the other row's box ticks it and selects it; no menu, no dialog.
  QTest::mouseClick(List()->Table()->viewport(), Qt::RightButton, {}, List()->NameCheckRect(0).center());
  EXPECT_EQ(page->GetCurSel(), 0);
  EXPECT_EQ(page->GetCheck(0), 1);
  EXPECT_EQ(View()->Rows().size(), 1u);
  EXPECT_EQ(opened.size(), 1u);
  QTest::keyClick(List()->Table(), Qt::Key_Return, Qt::AltModifier);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1], "-") << "the NTFS table's second row";
  Shoot(*page, "partition-pages-scan-selected-row");
}

// The page's controller as the page sees it: every call recorded.
class FakeLostPartitionController : public ILostRecoveryPartitionDeviceSelectController {
 public:
  void Activate() override {}
  void Home() override {}
  void Back() override {}
  bool Next() override {
    calls.push_back("Next");
    return true;
  }
  void SetPreviousController(IWizardPageController*) override {}
  IWizardPageController* GetPreviousController() override { return nullptr; }
  void SetFullScan(int fullScan) override { calls.push_back("SetFullScan " + std::to_string(fullScan)); }
  std::vector<std::string> calls;
};

class LostPartitionPage : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    page = std::make_unique<CLostRecoveryPartitionDeviceSelectPage>();
    page->SetController(&controller);
    page->resize(1000, 560);
    for (CLostPartitionRecord& record : records) {
      DEVICE_ITEM_INFO item;
      item.kind = 3;
      item.name = record.Label;
      item.sectorCount = record.SectorCount;
      item.information = "NTFS";
      item.itemData = &record;
      page->GetDeviceSelectCtrl()->AddItem(&item);
    }
    page->show();
    QCoreApplication::processEvents();
  }
  void ClickRow(int row) {
    CDeviceSelectView* view = page->GetDeviceSelectCtrl()->View();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->RowRect(row).center());
  }
  void ClickFullScan() {
    CTransButton* box = page->FullScanBox();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    QCoreApplication::processEvents();
  }

  CLostPartitionRecord records[2] = {{2048, 204800, kFileSystemNtfs, "DATA", nullptr},
                                     {206848, 409600, kFileSystemFat32, "USB", nullptr}};
  FakeLostPartitionController controller;
  std::unique_ptr<CLostRecoveryPartitionDeviceSelectPage> page;
};

TEST_F(LostPartitionPage, FullScanAndAPickedPartitionUndoEachOther) {
  ClickRow(0);
  ASSERT_EQ(page->GetDeviceSelectCtrl()->GetCurSel(), 0);
  controller.calls.clear();
  ClickFullScan();
  EXPECT_TRUE(page->FullScanBox()->isChecked());
  EXPECT_EQ(controller.calls, std::vector<std::string>{"SetFullScan 1"});
  EXPECT_EQ(page->GetDeviceSelectCtrl()->GetCurSel(), -1) << "the picked partition is let go";
  Shoot(*page, "partition-pages-4-full-scan");
  ClickRow(1);
  EXPECT_FALSE(page->FullScanBox()->isChecked());
  EXPECT_EQ(controller.calls.back(), "SetFullScan 0");
  ClickFullScan();
  page->ResetFullScan();
  EXPECT_FALSE(page->FullScanBox()->isChecked());
  EXPECT_EQ(controller.calls.back(), "SetFullScan 0");
}

TEST_F(LostPartitionPage, DoubleClickAndTheMenuGoOnAndPropertiesShowTheArea) {
  ClickRow(1);
  controller.calls.clear();
  QTest::mouseDClick(page->GetDeviceSelectCtrl()->View()->viewport(), Qt::LeftButton, {},
                     page->GetDeviceSelectCtrl()->View()->RowRect(1).center());
  EXPECT_EQ(controller.calls, std::vector<std::string>{"Next"});
  // A right click on the row offers Recover (which goes on) and Properties.
  QStringList offered;
  QString pick = QStringLiteral("Recover");
  page->SetMenuRunner([&](QMenu& menu, const QPoint&) -> QAction* {
    offered.clear();
    QAction* chosen = nullptr;
    for (QAction* action : menu.actions()) {
      offered << action->text();
      if (action->text() == pick) chosen = action;
    }
    return chosen;
  });
  QWidget* rows = page->GetDeviceSelectCtrl()->View()->viewport();
  const QPoint second = page->GetDeviceSelectCtrl()->View()->RowRect(1).center();
  QTest::mouseClick(rows, Qt::RightButton, {}, second);
  EXPECT_EQ(offered, (QStringList{QStringLiteral("Recover"), QStringLiteral("Properties")}));
  EXPECT_EQ(controller.calls.size(), 2u);
  EXPECT_EQ(page->GetHelpContextId(0), 51);

  // Properties of the picked partition, from the menu and by Alt+Enter in the list.
  std::vector<PropertyRows> shown;
  page->SetDialogRunner([&](QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>();
    PropertyRows one;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      one.emplace_back(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1));
    shown.push_back(one);
    Shoot(dialog, "partition-pages-device-properties");
  });
  pick = QStringLiteral("Properties");
  QTest::mouseClick(rows, Qt::RightButton, {}, second);
  page->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
  page->GetDeviceSelectCtrl()->View()->setFocus();
  QTest::keyClick(page->GetDeviceSelectCtrl()->View(), Qt::Key_Return, Qt::AltModifier);
  ASSERT_EQ(shown.size(), 2u);
  for (const PropertyRows& rowsShown : shown) {
    ASSERT_EQ(rowsShown.size(), 2u);
    EXPECT_EQ(rowsShown[0], std::make_pair(QStringLiteral("Total Sector"), QStringLiteral("409600")));
    EXPECT_EQ(rowsShown[1], std::make_pair(QStringLiteral("Start Sector"), QStringLiteral("206848")));
  }
}

std::string Joined(const PropertyRows& rows) {
  std::string out;
  for (const auto& [name, value] : rows) out += name.toStdString() + "=" + value.toStdString() + "\n";
  return out;
}

CFileNode* FindChild(CFileNode* folder, const std::string& name) {
  for (CFileNode* child = folder ? folder->GetFirstChild() : nullptr; child; child = child->GetNextSibling())
    if (child->GetFileProperties() && name == child->GetFileProperties()->GetName()) return child;
  return nullptr;
}

void DeleteTree(CFileNode* node) {
  while (CFileNode* child = node->GetFirstChild()) {
    node->RemoveChild(child);
    DeleteTree(child);
  }
  delete node->GetFileProperties();
  delete node;
}

// A FAT volume made by mkfs.fat and filled by mtools, with a file fragmented by a delete and a later
// write; the tree is the FAT engine's own.
TEST(FilePropertiesDialog, AFragmentedFileShowsItsDataRunsAndAFolderItsClusters) {
  corvale::test::TestApplication();
  CORVALE_FIXTURE(path, "fat16_small_clusters.sh", "fat16_small_clusters.img");
  CImageFileDevice device(path);
  ASSERT_TRUE(device.IsOpened());
  CFileSystemNode* partition = nullptr;
  for (const FileSystemEngine& e : FileSystemEngines())
    if (!partition && e.buildTree && e.Recognises(device, 0)) partition = e.buildTree(device, 0, nullptr);
  ASSERT_NE(partition, nullptr);
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> owner(partition, DeleteTree);

  CFileNode* folder = FindChild(partition, "frag");
  ASSERT_NE(folder, nullptr);
  CFileNode* file = FindChild(folder, "D.bin");
  ASSERT_NE(file, nullptr);
  const std::string rows = Joined(CPropertiesDlg::RowsFor(file));
  EXPECT_EQ(rows.rfind("Sector Per Cluster=1\nStart Sector=", 0), 0u) << rows;
  EXPECT_NE(rows.find("\nName=D.bin\nParent="), std::string::npos) << rows;
  // D.bin fills the clusters B.bin freed, then goes on after C.bin. Its runs, counted from the first
  // data cluster (cluster 2), are the chains mtools reports.
  std::string chains;
  ASSERT_EQ(corvale::test::RunCommand("mshowfat -i '" + path + "' ::/frag/D.bin", &chains), 0);
  std::string expected;
  for (size_t at = chains.find('<'); at != std::string::npos; at = chains.find('<', at + 1)) {
    const unsigned long first = std::stoul(chains.substr(at + 1));
    const size_t dash = chains.find_first_of("->", at + 1);
    const unsigned long last = chains[dash] == '-' ? std::stoul(chains.substr(dash + 1)) : first;
    if (!expected.empty()) expected += " - ";
    expected += std::to_string(first - 2) + ": " + std::to_string(last - first + 1);
  }
  ASSERT_NE(expected.find(" - "), std::string::npos) << "the fixture's file is fragmented: " << chains;
  EXPECT_NE(rows.find("\nLay out=" + expected + ".\n"), std::string::npos) << rows << chains;
  EXPECT_NE(rows.find("Deleted=No\nLost=No\nCross Link=No\nTemp=No\n"), std::string::npos) << rows;

  const std::string folderRows = Joined(CPropertiesDlg::RowsFor(folder));
  EXPECT_NE(folderRows.find("\nCluster="), std::string::npos) << folderRows;
  EXPECT_EQ(folderRows.find("Lay out"), std::string::npos) << folderRows;

  CPropertiesDlg dialog;
  dialog.SetFileNode(file);
  EXPECT_EQ(dialog.List()->topLevelItemCount(), static_cast<int>(CPropertiesDlg::RowsFor(file).size()));
  Shoot(dialog, "partition-pages-file-properties");

  CFileNode bare;
  EXPECT_TRUE(CPropertiesDlg::RowsFor(&bare).empty()) << "a node without properties lists nothing";
  EXPECT_TRUE(CPropertiesDlg::RowsFor(nullptr).empty());
}

// The file page opens the file dialog for the selected file and for the tree's current folder.
TEST(FilePropertiesDialog, TheFilePageShowsTheSelectedFileAndFolder) {
  corvale::test::TestApplication();
  CORVALE_FIXTURE(path, "fat16_small_clusters.sh", "fat16_small_clusters.img");
  CImageFileDevice device(path);
  ASSERT_TRUE(device.IsOpened());
  CFileSystemNode* partition = nullptr;
  for (const FileSystemEngine& e : FileSystemEngines())
    if (!partition && e.buildTree && e.Recognises(device, 0)) partition = e.buildTree(device, 0, nullptr);
  ASSERT_NE(partition, nullptr);
  CFileSelectPage page;
  page.resize(1000, 560);
  page.show();
  page.SetFileTree(partition);  // the page owns the tree from here on
  std::vector<std::string> names;
  auto saved = CFileSelectPage::SetPropertiesShower([&](QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (list->topLevelItem(i)->text(0) == "Name")
        names.push_back(list->topLevelItem(i)->text(1).toStdString());
  });
  EXPECT_TRUE(page.OnCommand(CFileSelectPage::kCommandFileProperties));
  EXPECT_TRUE(names.empty()) << "no file selected, no dialog";

  CFileNode* folder = FindChild(partition, "frag");
  ASSERT_NE(folder, nullptr);
  QModelIndex item;
  ASSERT_TRUE(page.Tree()->FindNodeItem(folder, &item));
  QCoreApplication::processEvents();
  int row = -1;
  for (int i = 0; i < page.List()->RowCount(); ++i)
    if (std::string("D.bin") == page.List()->GetNodeAt(i)->GetFileProperties()->GetName()) row = i;
  ASSERT_GE(row, 0);
  page.List()->GetActiveListCtrl()->setCurrentIndex(page.List()->Model()->index(row, 0));
  page.OnCommand(CFileSelectPage::kCommandFileProperties);
  page.OnCommand(CFileSelectPage::kCommandFolderProperties);
  CFileSelectPage::SetPropertiesShower(saved);
  EXPECT_EQ(names, (std::vector<std::string>{"D.bin", "frag"}));
}

TEST(PartitionPropertiesDialog, NtfsAndBasicTablesAndTheTypeTexts) {
  corvale::test::TestApplication();
  auto ntfs = Ntfs(2048, 409600, 0.9);
  auto* n = static_cast<CSearchedNTFSPartitionInfo*>(ntfs.get());
  n->SetFoundByFlags(kFoundByFirstBootRecord | kFoundByMftMirr);
  n->SetUseMft(true);
  const PropertyRows rows = CScanPartitionPropertiesDlg::RowsFor(ntfs.get());
  ASSERT_EQ(rows.size(), 26u);
  EXPECT_EQ(rows[0].second.toStdString(), "Yes");
  EXPECT_EQ(rows[1].second.toStdString(), "-");
  EXPECT_EQ(rows[4].second.toStdString(), "Yes");
  EXPECT_EQ(Joined({rows[9], rows[13]}), "partition sectors count=409600\nUse$MFT=Yes\n");
  auto ext = Ext(0, 100);
  EXPECT_EQ(Joined(CScanPartitionPropertiesDlg::RowsFor(ext.get())),
            "partition sectors count=100\ndata area start sector=0\nsectors per cluster=0\n");
  EXPECT_TRUE(CScanPartitionPropertiesDlg::RowsFor(static_cast<CSearchedPartitionInfo*>(nullptr)).empty());
  EXPECT_EQ(CScanPartitionPropertiesDlg::GetFileSystemTypeText(4).toStdString(), "    EXT2");
  EXPECT_EQ(CScanPartitionPropertiesDlg::GetFileSystemTypeText(99).toStdString(), "UNKNOWN");
  EXPECT_EQ(CScanPartitionPropertiesDlg::GetFileSystemTypeText(-1).toStdString(), "UNKNOWN");
}

}  // namespace
