#pragma once
// Page 8, partition recovery: the partitions the scan of a whole disk found, for ticking.

#include "wizard/ScanPartitionDeviceSelectPage.h"

class CLostRecoveryScanPartitionDeviceSelectPage : public CScanPartitionDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 51;

  using CScanPartitionDeviceSelectPage::CScanPartitionDeviceSelectPage;

  void SetController(IWizardPageController* controller);
  IWizardPageController* GetController() override { return m_controller; }
  int GetHelpContextId(int) override { return kHelpTopic; }

 private:
  IWizardPageController* m_controller = nullptr;
};
