// The edit control that keeps its editing shortcuts, and the rich-text control that lets nothing be
// selected and copied.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <QTextCursor>
#include <QWidget>
#include <memory>

#include "controls/CopyLimitedRichEditCtrl.h"
#include "controls/EditPlus.h"
#include "support/QtTestApp.h"

namespace {

class EditControls : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    window = std::make_unique<QWidget>();
    window->resize(400, 300);
    // A window shortcut on the same keys, as the main window has for its edit commands.
    auto* selectAll = new QAction(window.get());
    selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    QObject::connect(selectAll, &QAction::triggered, [this] { ++windowShortcuts; });
    window->addAction(selectAll);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  std::unique_ptr<QWidget> window;
  int windowShortcuts = 0;
};

}  // namespace

TEST_F(EditControls, EditPlusSelectsAllWithCtrlAAndTypesAWithout) {
  auto* edit = new CEditPlus(window.get());
  edit->setGeometry(10, 10, 300, 24);
  edit->show();
  edit->setFocus();
  QTest::keyClicks(edit, "target");
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(edit->selectedText().toStdString(), "target");
  EXPECT_EQ(windowShortcuts, 0) << "the control keeps its shortcut";
  QTest::keyClick(edit, Qt::Key_End);
  QTest::keyClick(edit, Qt::Key_A);
  EXPECT_EQ(edit->text().toStdString(), "targeta");

  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
  EXPECT_TRUE(edit->text().isEmpty());
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit->text().toStdString(), "targetatargeta");
  QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(edit->text().toStdString(), "targeta");
}

TEST_F(EditControls, CopyLimitedRichTextSelectsNothingByKeyboardOrMouseAndCopiesNothing) {
  auto* text = new CCopyLimitedRichEditCtrl(window.get());
  text->setReadOnly(true);
  text->setGeometry(10, 10, 300, 200);
  text->setHtml("<p><b>Recovered</b> text that stays on the screen.</p><p>Second line.</p>");
  text->show();
  text->setFocus();
  QGuiApplication::clipboard()->setText("before");

  QTest::keyClick(text, Qt::Key_End, Qt::ShiftModifier);
  QTest::keyClick(text, Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
  EXPECT_FALSE(text->textCursor().hasSelection());
  EXPECT_EQ(windowShortcuts, 0);

  QWidget* surface = text->viewport();
  QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(5, 8));
  QTest::mouseMove(surface, QPoint(200, 40));
  QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(200, 40));
  QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint(20, 8));
  EXPECT_FALSE(text->textCursor().hasSelection());

  QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "before");
  EXPECT_EQ(text->contextMenuPolicy(), Qt::NoContextMenu);
}
