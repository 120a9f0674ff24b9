// Pictures of the wizard sheet on its pages and of its menu, left in the build folder
// (screenshots/) for a person to look at. The checks only make sure the pictures were drawn.
#include <gtest/gtest.h>

#include <QAction>
#include <QPainter>
#include <string>

#include "controls/ButtonPlus.h"
#include "controls/XPMenu.h"
#include "wizard/TypeOfFileToRecoveryPage.h"
#include "wizard/TypeRecoveryTreeCtrl.h"
#include "wizard/WizardHarness.h"

using corvale::test::WizardHarness;

namespace {

class Screenshots : public WizardHarness {
 protected:
  QImage Sheet() { return sheet->grab().toImage(); }
  void Save(const std::string& name, const QImage& image) {
    ASSERT_EQ(image.size(), QSize(1000, 700));
    EXPECT_FALSE(corvale::test::SaveScreenshot(image, name).empty()) << name;
  }
};

}  // namespace

TEST_F(Screenshots, TheSheetOnEachPageOfEachMode) {
  struct Shot {
    int mode;
    WIZARD_PAGE page;
    const char* name;
  } shots[] = {
      {2, RecoveryModeSelect, "wizard-welcome"},
      {0, TypeOfFileToRecovery, "wizard-deleted-1-file-types"},
      {0, DeleteRecoveryPartitionDeviceSelect, "wizard-deleted-2-volume"},
      {0, FileSelect, "wizard-deleted-3-files"},
      {1, CompleteRecoveryPartitionDeviceSelect, "wizard-format-2-device"},
      {1, CompleteRecoveryScanPartitionDeviceSelect, "wizard-format-2-scanned-partitions"},
      {2, TypeOfFileToRecovery, "wizard-partition-1-file-types"},
      {2, LostRecoveryDiskDeviceSelect, "wizard-partition-2-disk"},
      {2, LostRecoveryScanPartitionDeviceSelect, "wizard-partition-3-partitions"},
      {2, FileSelect, "wizard-partition-4-files"},
  };
  for (const Shot& shot : shots) {
    GetRecoveryContext().RecoveryMode = shot.mode;
    sheet->ShowPage(shot.page);
    Save(shot.name, Sheet());
  }
}

TEST_F(Screenshots, TheSheetWithItsMenuOpenAndNextDisabled) {
  // The menu of the welcome page, drawn where it opens: under the menu button.
  std::unique_ptr<CXPMenu> menu = sheet->BuildSheetMenu();
  menu->popup(QPoint(0, 0));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
  menu->setActiveAction(menu->actions().at(1));
  QImage shot = Sheet();
  {
    QPainter painter(&shot);
    CButtonPlus* button = sheet->Button(CWizardSheet::kCommandMenu);
    painter.drawImage(button->geometry().bottomLeft() + QPoint(0, 1), menu->grab().toImage());
  }
  menu->close();
  Save("wizard-welcome-menu", shot);

  GetRecoveryContext().RecoveryMode = 2;
  sheet->ShowPage(TypeOfFileToRecovery);
  sheet->EnableNextButton(false);
  Save("wizard-partition-1-next-disabled", Sheet());
}

TEST_F(Screenshots, TheFileTypePageWithSomeTypesTicked) {
  StartRecovery(2);
  auto* page = static_cast<CTypeOfFileToRecoveryPage*>(sheet->GetPage(TypeOfFileToRecovery));
  CTypeRecoveryDrawTreeCtrl* tree = page->Tree();
  // Untick everything, then tick one picture type and the whole mail category.
  tree->ToggleCheck(tree->ItemOf(0));
  if (page->IsAllTypesChecked()) tree->ToggleCheck(tree->ItemOf(0));
  QTreeWidgetItem* graphics = tree->ItemOf(0)->child(0);
  tree->ToggleCheck(graphics->child(17));
  tree->ToggleCheck(tree->ItemOf(0)->child(4));
  tree->scrollToItem(tree->ItemOf(0), QAbstractItemView::PositionAtTop);
  Save("wizard-file-types-some-ticked", Sheet());
  tree->scrollToItem(tree->ItemOf(0)->child(4), QAbstractItemView::PositionAtTop);
  Save("wizard-file-types-mail-ticked", Sheet());
}
