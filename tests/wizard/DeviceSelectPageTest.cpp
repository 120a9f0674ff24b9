// The deleted-file volume page on its own, with a volume list the test gives it.
#include <gtest/gtest.h>

#include <QTest>
#include <string>

#include "controls/DeviceSelectCtrl.h"
#include "controls/TransButton.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/WizardHarness.h"

using corvale::test::WizardHarness;

namespace {

class VolumePage : public WizardHarness {
 protected:
  CDeleteRecoveryPartitionDeviceSelectPage* Page() {
    return static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
        sheet->GetPage(DeleteRecoveryPartitionDeviceSelect));
  }
};

TEST_F(VolumePage, TheManualSelectionBoxFollowsAndSetsTheRecoveryFlag) {
  GetRecoveryContext().PageFlowSwitch = 1;
  sheet->ShowPage(DeleteRecoveryPartitionDeviceSelect);
  CTransButton* box = Page()->ManualSelectionBox();
  EXPECT_TRUE(box->isChecked());
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
  QCoreApplication::processEvents();
  EXPECT_EQ(GetRecoveryContext().PageFlowSwitch, 0);
  GetRecoveryContext().PageFlowSwitch = 1;
  sheet->ShowPage(RecoveryModeSelect);
  sheet->ShowPage(DeleteRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(box->isChecked()) << "shown again, the box shows the flag";
  GetRecoveryContext().PageFlowSwitch = 0;
}

TEST_F(VolumePage, CollectionDisablesTheWindowUntilTheListArrivesAndNextWithoutAVolumeAsksForOne) {
  StartRecovery(0);
  Click(CWizardSheet::kCommandNext);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  EXPECT_FALSE(frame->isEnabled()) << "the worker is collecting";
  WaitForVolumeList();
  EXPECT_TRUE(frame->isEnabled());
  EXPECT_EQ(Page()->GetDeviceSelectCtrl()->GetCount(), 0);
  boxes.clear();
  Click(CWizardSheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("Select a partition to recover please."), std::string::npos);
  EXPECT_EQ(Page()->GetHelpContextId(2), 16);
}

}  // namespace
