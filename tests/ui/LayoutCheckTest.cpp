// The layout check that the page and dialog tests rely on: it must see a control pushed out of its
// window and two controls on top of each other, and must not complain about a window laid out by
// layouts, about a list's own scroll bars, or about controls scrolled away inside a scroll area.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

#include "support/QtTestApp.h"
#include "support/qt/LayoutCheck.h"

namespace {

class LayoutCheck : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

TEST_F(LayoutCheck, SeesControlsOutsideTheWindowAndOnTopOfEachOther) {
  QWidget window;
  window.resize(200, 100);
  auto* a = new QPushButton("A", &window);
  a->setGeometry(10, 10, 80, 30);
  auto* b = new QPushButton("B", &window);
  b->setGeometry(60, 20, 80, 30);  // over A
  auto* c = new QLabel("C", &window);
  c->setGeometry(150, 80, 80, 30);  // past the right and bottom edges
  window.show();
  const QStringList problems = layoutcheck::Problems(&window);
  ASSERT_EQ(problems.size(), 2) << problems.join("\n").toStdString();
  EXPECT_TRUE(problems.filter("outside").size() == 1 && problems.filter("\"C\"").size() == 1);
  EXPECT_EQ(problems.filter("overlaps").size(), 1);
}

TEST_F(LayoutCheck, AcceptsAWindowOfLayoutsAtAnySizeFromItsMinimum) {
  QWidget window;
  auto* column = new QVBoxLayout(&window);
  auto* list = new QListWidget;
  for (int i = 0; i < 200; ++i) list->addItem(QString("row %1").arg(i));  // scroll bars appear
  column->addWidget(list);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Name:"));
  row->addStretch();
  row->addWidget(new QPushButton("OK"));
  row->addWidget(new QPushButton("Cancel"));
  column->addLayout(row);
  auto* area = new QScrollArea;
  auto* page = new QWidget;
  auto* pageColumn = new QVBoxLayout(page);
  for (int i = 0; i < 30; ++i) pageColumn->addWidget(new QPushButton(QString("item %1").arg(i)));
  area->setWidget(page);
  column->addWidget(area);
  window.show();
  for (const QSize size : {QSize(1, 1), QSize(640, 480), QSize(1920, 1080)}) {
    const QStringList problems = layoutcheck::ProblemsAtSize(&window, size);
    EXPECT_TRUE(problems.isEmpty()) << size.width() << "x" << size.height() << ": "
                                    << problems.join("\n").toStdString();
  }
}

}  // namespace
