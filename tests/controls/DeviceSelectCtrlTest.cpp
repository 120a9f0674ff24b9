// The device picker: rows, the selection by mouse and keys, and the header.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <string>

#include "controls/DeviceSelectCtrl.h"
#include "support/QtTestApp.h"
#include "ui/Pictures.h"

namespace {

class DeviceSelect : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_control = std::make_unique<CDeviceSelectCtrl>();
    m_control->resize(900, 300);
    DEVICE_BITMAP bitmaps;
    for (int i = 0; i < 7; ++i) bitmaps.ids[i] = corvale::ui::bitmap::kDeviceIcons[i];
    m_control->SetDeviceBitmap(bitmaps);
    m_control->SetCtrlStyle(CtrlStylePartition);
    m_control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_control.get()));
  }
  void Add(uint32_t kind, const char* name, uint64_t sectors, uint32_t sectorSize, void* data) {
    DEVICE_ITEM_INFO item;
    item.kind = kind;
    item.name = name;
    item.sectorCount = sectors;
    item.bytesPerSector = sectorSize;
    item.information = "info";
    item.itemData = data;
    m_control->AddItem(&item);
  }
  void Press(Qt::MouseButton button, QPoint at) {
    QTest::mouseClick(m_control->View()->viewport(), button, {}, at);
  }
  QPoint RowCentre(int row) { return m_control->View()->RowRect(row).center(); }

  std::unique_ptr<CDeviceSelectCtrl> m_control;
  int data[4] = {};
};

TEST_F(DeviceSelect, RowsShowNameCapacityAndInformationAndStackByTheirHeights) {
  Add(2, "C : one  (NTFS)", 1953525168, 512, &data[0]);
  Add(1, "Disk 2\nsecond line", 0, 0, &data[1]);
  Add(7, "no picture", 2048, 4096, &data[2]);
  ASSERT_EQ(m_control->GetCount(), 3);
  EXPECT_EQ(m_control->CellText(0, 1).toStdString(), "931.51 GB");
  EXPECT_EQ(m_control->CellText(1, 1).toStdString(), "") << "0 sectors show no capacity";
  EXPECT_EQ(m_control->CellText(2, 1).toStdString(), "8.00 MB");
  EXPECT_EQ(m_control->Header()->ColumnText(0).toStdString(), "Partition");
  CDeviceSelectView* view = m_control->View();
  EXPECT_EQ(view->RowRect(0).height(), 32 + 10) << "a picture and ten pixels";
  EXPECT_GE(view->RowRect(1).height(), 2 * QFontMetrics(view->font()).lineSpacing()) << "two lines";
  EXPECT_EQ(view->RowRect(1).top(), view->RowRect(0).bottom() + 1) << "rows stack without gaps";
  EXPECT_EQ(view->RowRect(2).top(), view->RowRect(1).bottom() + 1);
  EXPECT_EQ(m_control->Model()->index(2, 0).data(CDeviceListModel::kBitmapRole).toInt(), -1)
      << "kind 7 has no picture";
  EXPECT_EQ(m_control->GetItemData(-1), nullptr);
  EXPECT_EQ(m_control->GetItemData(3), nullptr);
  EXPECT_EQ(m_control->GetItemData(1), &data[1]);
  m_control->DeleteItem(3);
  EXPECT_EQ(m_control->GetCount(), 3);
  m_control->DeleteItem(0);
  EXPECT_EQ(m_control->GetCount(), 2);
  EXPECT_EQ(m_control->GetItemData(0), &data[1]);
  EXPECT_EQ(view->RowRect(0).top(), 0) << "rows close up";
}

TEST_F(DeviceSelect, TheMouseSelectsOnceTheKeysMoveWithoutTellingAndEmptySpaceKeepsTheSelection) {
  for (int i = 0; i < 3; ++i) Add(2, ("row " + std::to_string(i)).c_str(), 100, 512, &data[i]);
  QSignalSpy changed(m_control.get(), &CDeviceSelectCtrl::selectionChanged);
  QSignalSpy doubled(m_control.get(), &CDeviceSelectCtrl::itemDoubleClicked);
  QSignalSpy right(m_control.get(), &CDeviceSelectCtrl::itemRightClicked);

  QTest::mouseDClick(m_control->View()->viewport(), Qt::LeftButton, {}, QPoint(5, 280));
  EXPECT_EQ(doubled.count(), 0) << "no row selected";
  Press(Qt::LeftButton, RowCentre(1));
  EXPECT_EQ(m_control->GetCurSel(), 1);
  EXPECT_EQ(changed.count(), 1);
  Press(Qt::LeftButton, RowCentre(1));
  EXPECT_EQ(changed.count(), 1) << "the selected row again";
  Press(Qt::LeftButton, QPoint(5, 280));
  EXPECT_EQ(m_control->GetCurSel(), 1) << "empty space";
  EXPECT_EQ(changed.count(), 1);
  Press(Qt::RightButton, RowCentre(2));
  EXPECT_EQ(m_control->GetCurSel(), 2);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(right.count(), 1);
  QTest::mouseDClick(m_control->View()->viewport(), Qt::LeftButton, {}, RowCentre(2));
  EXPECT_EQ(doubled.count(), 1);

  struct Key {
    Qt::Key key;
    int selected;
  } keys[] = {{Qt::Key_Down, 2}, {Qt::Key_Up, 1}, {Qt::Key_Up, 0}, {Qt::Key_Up, 0}, {Qt::Key_Down, 1}};
  for (const Key& k : keys) {
    QTest::keyClick(m_control->View(), k.key);
    EXPECT_EQ(m_control->GetCurSel(), k.selected);
  }
  EXPECT_EQ(changed.count(), 2) << "keys select without telling";
  corvale::test::SaveScreenshot(m_control->grab().toImage(), "control-device-select");
  m_control->ClearSelection();
  EXPECT_EQ(m_control->GetCurSel(), -1);
  QTest::keyClick(m_control->View(), Qt::Key_Down);
  EXPECT_EQ(m_control->GetCurSel(), -1);
}

TEST_F(DeviceSelect, DraggingAColumnWidthResizesThatCellInEveryRow) {
  Add(2, "a", 1, 512, nullptr);
  Add(2, "b", 1, 512, nullptr);
  m_control->Header()->resizeSection(1, 260);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(m_control->View()->visualRect(m_control->Model()->index(row, 1)).width(), 260);
    EXPECT_EQ(m_control->View()->RowRect(row).width(), 250 + 260 + 480);
  }
}

}  // namespace
