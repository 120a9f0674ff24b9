// The extended list as the user works it: clicks on its tick boxes (left, right, double), the keys,
// the header's dividers, the wheel and a resize, over a model checked by Qt's model tester; and a
// list of many rows that stays quick because it is a model painted by one delegate.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "controls/ExtendHeaderCtrl.h"
#include "controls/ExtendListCtrl.h"
#include "support/QtTestApp.h"

namespace {

struct Recorder : ICheckBoxNotify {
  std::vector<std::array<int, 4>> calls;  // {new state, row, column, item}
  void OnCheckBoxChanged(int newCheck, int row, int column, int item) override {
    calls.push_back({newCheck, row, column, item});
  }
};

ExtendListItem Box(int id, const QString& text, ICheckBoxNotify* notifier, int check = 0) {
  ExtendListItem item;
  item.CheckBoxId = id;
  item.Check = check;
  item.Text = text;
  item.Notifier = notifier;
  return item;
}

ExtendListCell CellOf(std::initializer_list<ExtendListItem> items) {
  ExtendListCell cell;
  for (const ExtendListItem& item : items) cell.Items[cell.ItemCount++] = item;
  return cell;
}

class ExtendList : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    list = std::make_unique<CExtendListCtrl>();
    tester = std::make_unique<QAbstractItemModelTester>(
        list->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    list->InsertColumn(QStringLiteral("Name"), 150, CExtendListCtrl::ArrangeLeft);
    list->InsertColumn(QStringLiteral("Options"), 200, CExtendListCtrl::ArrangeLeft);
    list->InsertColumn(QStringLiteral("Size"), 80, CExtendListCtrl::ArrangeRight);
    list->resize(500, 200);
    list->show();
    QCoreApplication::processEvents();
  }
  // A row: a ticked-or-not name, two alternatives and a size.
  int AddRow(const QString& name, int check = 0) {
    const int row = list->AddRow(20);
    EXPECT_TRUE(list->AddCell(row, CellOf({Box(1, name, &names, check)})));
    EXPECT_TRUE(list->AddCell(row, CellOf({Box(1, "FAT1", &options), Box(2, "FAT2", &options)})));
    ExtendListCell size;
    size.ItemCount = 1;
    size.Items[0].Text = QStringLiteral("1.00 MB");
    EXPECT_TRUE(list->AddCell(row, size));
    return row;
  }
  int Check(int row, int column, int item) const {
    return list->GetRow(row)->Cells[static_cast<size_t>(column)].Items[item].Check;
  }
  QPoint BoxCentre(int row, int column, int item) const {
    const QRect box = list->CheckBoxRect(row, column, item);
    EXPECT_FALSE(box.isEmpty()) << row << " " << column << " " << item;
    return box.center();
  }
  QPoint TextOf(int row, int column) const {
    const QRect cell = list->visualRect(list->Model()->index(row, column));
    return QPoint(cell.right() - 4, cell.center().y());
  }

  Recorder names;
  Recorder options;
  std::unique_ptr<CExtendListCtrl> list;
  std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(ExtendList, LeftClicksOnABoxToggleItTellTheNotifierAndSelectTheRow) {
  AddRow("first");
  AddRow("second", 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(1, 0, 0));
  EXPECT_EQ(Check(1, 0, 0), 0);
  EXPECT_EQ(list->GetSelectedRow(), 1);
  EXPECT_TRUE(list->GetRow(1)->Selected);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(0, 1, 1));
  EXPECT_EQ(Check(0, 1, 1), 1);
  EXPECT_EQ(Check(0, 1, 0), 0) << "only the box under the pointer";
  EXPECT_EQ(list->GetSelectedRow(), 0);
  EXPECT_FALSE(list->GetRow(1)->Selected);
  // A click beside the boxes selects without ticking.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, TextOf(1, 2));
  EXPECT_EQ(list->GetSelectedRow(), 1);
  const std::vector<std::array<int, 4>> nameCalls{{0, 1, 0, 0}};
  const std::vector<std::array<int, 4>> optionCalls{{1, 0, 1, 1}};
  EXPECT_EQ(names.calls, nameCalls);
  EXPECT_EQ(options.calls, optionCalls);
  // A double click (a press and release, then the double click in place of the second press)
  // toggles twice, so the box ends as it was.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(0, 0, 0));
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(0, 0, 0));
  EXPECT_EQ(Check(0, 0, 0), 0);
  EXPECT_EQ(names.calls.size(), 3u);
  EXPECT_EQ(list->GetRow(0)->GetFirstCheck(), 0);
}

TEST_F(ExtendList, ARightClickTogglesLikeALeftOneAndAlsoTellsTheOwner) {
  AddRow("first");
  AddRow("second");
  QSignalSpy notices(list.get(), &CExtendListCtrl::rightButtonNotify);
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, BoxCentre(1, 0, 0));
  EXPECT_EQ(Check(1, 0, 0), 1);
  EXPECT_EQ(list->GetSelectedRow(), 1);
  ASSERT_EQ(notices.size(), 1);
  EXPECT_EQ(notices[0][0].toInt(), 1);
  const std::vector<std::array<int, 4>> calls{{1, 1, 0, 0}};
  EXPECT_EQ(names.calls, calls);
  // Off the boxes it only selects and tells; below the rows it does nothing.
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, TextOf(0, 2));
  EXPECT_EQ(list->GetSelectedRow(), 0);
  EXPECT_EQ(notices.size(), 2);
  EXPECT_EQ(names.calls.size(), 1u);
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(10, list->viewport()->height() - 5));
  EXPECT_EQ(notices.size(), 2);
  EXPECT_EQ(list->GetSelectedRow(), 0);
}

TEST_F(ExtendList, SpaceTicksTheSelectedRowAndTheArrowsMoveTheSelection) {
  for (int i = 0; i < 3; ++i) AddRow(QStringLiteral("row %1").arg(i));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, TextOf(0, 2));
  QTest::keyClick(list.get(), Qt::Key_Down);
  EXPECT_EQ(list->GetSelectedRow(), 1);
  QTest::keyClick(list.get(), Qt::Key_Space);
  EXPECT_EQ(Check(1, 0, 0), 1);
  QTest::keyClick(list.get(), Qt::Key_Down);
  QTest::keyClick(list.get(), Qt::Key_Down);
  EXPECT_EQ(list->GetSelectedRow(), 2) << "the last row stays selected";
  QTest::keyClick(list.get(), Qt::Key_Up);
  QTest::keyClick(list.get(), Qt::Key_Space);
  EXPECT_EQ(Check(1, 0, 0), 0);
  const std::vector<std::array<int, 4>> calls{{1, 1, 0, 0}, {0, 1, 0, 0}};
  EXPECT_EQ(names.calls, calls);
  EXPECT_TRUE(options.calls.empty());
}

TEST_F(ExtendList, CellsBeyondTheColumnsAndRowsThatDoNotExistAreRefused) {
  const int row = AddRow("only");
  EXPECT_FALSE(list->AddCell(row, CellOf({Box(1, "extra", &names)}))) << "one cell per column";
  EXPECT_EQ(list->GetRow(row)->Cells.size(), 3u);
  EXPECT_FALSE(list->AddCell(row + 1, CellOf({})));
  EXPECT_FALSE(list->AddCell(-1, CellOf({})));
  EXPECT_EQ(list->GetRow(1), nullptr);
  EXPECT_EQ(list->GetRow(-1), nullptr);
  EXPECT_EQ(list->GetSelectedRow(), -1);
  EXPECT_FALSE(list->ToggleCheck(row, 2, 0)) << "a text without a box";
  EXPECT_FALSE(list->ToggleCheck(row, 1, 2)) << "no third alternative";
  // A count past four is held to four.
  ExtendListCell wide;
  wide.ItemCount = 9;
  const int next = list->AddRow(20);
  ASSERT_TRUE(list->AddCell(next, wide));
  EXPECT_EQ(list->GetRow(next)->Cells[0].ItemCount, ExtendListCell::kMaxItems);
  EXPECT_EQ(list->GetRow(next)->Cells[0].Width, 150) << "a cell takes its column's width";
  list->DeleteAllRows();
  EXPECT_EQ(list->GetRowCount(), 0);
  EXPECT_EQ(list->GetRow(0), nullptr);
}

TEST_F(ExtendList, ABoxThatDoesNotFitInItsCellCannotBeClicked) {
  // Two boxes with 60-pixel texts in a 50-pixel column: only the first is drawn.
  CExtendListCtrl narrow;
  narrow.InsertColumn(QStringLiteral("A"), 50, CExtendListCtrl::ArrangeLeft);
  narrow.resize(300, 100);
  narrow.show();
  const QString sixty = [&] {
    QString text;
    while (QFontMetrics(narrow.font()).horizontalAdvance(text) < 60) text += 'W';
    return text;
  }();
  const int row = narrow.AddRow(20);
  narrow.AddCell(row, CellOf({Box(1, sixty, &names), Box(2, sixty, &names)}));
  QCoreApplication::processEvents();
  EXPECT_FALSE(narrow.CheckBoxRect(row, 0, 0).isEmpty());
  EXPECT_TRUE(narrow.CheckBoxRect(row, 0, 1).isEmpty());
  // Where the second box would stand after the first item's text.
  const QRect first = narrow.CheckBoxRect(row, 0, 0);
  const QPoint second(first.left() + 18 + QFontMetrics(narrow.font()).horizontalAdvance(sixty) + 6,
                      first.center().y());
  QTest::mouseClick(narrow.viewport(), Qt::LeftButton, {}, second);
  QTest::mouseClick(narrow.viewport(), Qt::LeftButton, {}, QPoint(48, first.center().y()));
  EXPECT_EQ(narrow.GetRow(row)->Cells[0].Items[1].Check, 0);
  EXPECT_TRUE(names.calls.empty());
  QTest::mouseClick(narrow.viewport(), Qt::LeftButton, {}, first.center());
  EXPECT_EQ(names.calls.size(), 1u);
  EXPECT_FALSE(corvale::test::SaveScreenshot(narrow.grab().toImage(), "extend-list-narrow-cell").empty());
}

TEST_F(ExtendList, DraggingAHeaderDividerNarrowsThatColumnInEveryRow) {
  for (int i = 0; i < 4; ++i) AddRow(QStringLiteral("row %1").arg(i));
  CExtendHeaderCtrl* header = list->Header();
  EXPECT_EQ(header->objectName(), QStringLiteral("1002"));
  EXPECT_EQ(header->TotalWidth(), 430);
  EXPECT_EQ(header->ColumnText(2), QStringLiteral("Size"));
  EXPECT_EQ(
      list->Model()->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
      Qt::AlignRight);
  EXPECT_EQ(list->visualRect(list->Model()->index(0, 1)).width(), 200);
  EXPECT_FALSE(list->CheckBoxRect(3, 1, 1).isEmpty());
  // Drag the divider between Options and Size from x = 350 to x = 190: Options becomes 40 wide.
  QWidget* dividers = header->viewport();
  const int y = header->height() / 2;
  QTest::mousePress(dividers, Qt::LeftButton, {}, QPoint(349, y));
  QTest::mouseMove(dividers, QPoint(250, y));
  QTest::mouseMove(dividers, QPoint(189, y));
  QTest::mouseRelease(dividers, Qt::LeftButton, {}, QPoint(189, y));
  EXPECT_EQ(header->sectionSize(1), 40);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(list->GetRow(row)->Cells[1].Width, 40) << row;
    EXPECT_FALSE(list->CheckBoxRect(row, 1, 0).isEmpty()) << row;
    EXPECT_TRUE(list->CheckBoxRect(row, 1, 1).isEmpty()) << "the second alternative no longer fits";
  }
  EXPECT_EQ(header->TotalWidth(), 270);
}

TEST_F(ExtendList, TheWheelScrollsTenPixelsANotchUpToTheLastRowAndAResizeGoesBackToTheTop) {
  for (int i = 0; i < 100; ++i) AddRow(QStringLiteral("row %1").arg(i));
  list->resize(500, 200 + list->Header()->height() + 2 * list->frameWidth());
  QCoreApplication::processEvents();
  QScrollBar* bar = list->verticalScrollBar();
  EXPECT_EQ(bar->maximum(), 100 * 20 - list->viewport()->height());
  const QPoint middle = list->viewport()->rect().center();
  const auto wheel = [&](int delta) {
    QWheelEvent event(middle, list->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(list->viewport(), &event);
  };
  wheel(-120);
  EXPECT_EQ(bar->value(), 10);
  wheel(-120);
  wheel(120);
  EXPECT_EQ(bar->value(), 10);
  for (int i = 0; i < 300; ++i) wheel(-120);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(list->rowAt(list->viewport()->height() - 1), 99) << "the last row ends the view";
  // The boxes follow the scrolled rows.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(99, 0, 0));
  EXPECT_EQ(Check(99, 0, 0), 1);
  list->resize(520, 240);
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(list->horizontalScrollBar()->value(), 0);
}

TEST_F(ExtendList, ManyRowsStayQuickBecauseTheyAreAModelAndNotWidgets) {
  // The model tester walks every row after each change; a list this large goes without it.
  tester.reset();
  const int widgets = static_cast<int>(list->findChildren<QWidget*>().size());
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < 20000; ++i) AddRow(QStringLiteral("Partition %1 NTFS").arg(i + 1), i % 2);
  EXPECT_LT(timer.elapsed(), 15000) << "adding 20000 rows";
  EXPECT_EQ(static_cast<int>(list->findChildren<QWidget*>().size()), widgets) << "no widget per row";
  timer.restart();
  for (int i = 0; i < 50; ++i) {
    list->verticalScrollBar()->setValue(i * 8000);
    list->grab();
  }
  EXPECT_LT(timer.elapsed(), 10000) << "50 paints of a scrolled list";
  list->scrollTo(list->Model()->index(12345, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, BoxCentre(12345, 0, 0));
  EXPECT_EQ(Check(12345, 0, 0), 0);
  EXPECT_EQ(list->GetSelectedRow(), 12345);
  EXPECT_FALSE(corvale::test::SaveScreenshot(list->grab().toImage(), "extend-list-many-rows").empty());
  timer.restart();
  list->DeleteAllRows();
  EXPECT_LT(timer.elapsed(), 5000);
}

}  // namespace
