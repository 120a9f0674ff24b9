#pragma once
// Page 7, format recovery: the partitions the scan of a volume found, for ticking.

#include "wizard/ScanPartitionDeviceSelectPage.h"

class CCompleteRecoveryScanPartitionDeviceSelectPage : public CScanPartitionDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 50;

  using CScanPartitionDeviceSelectPage::CScanPartitionDeviceSelectPage;

  void SetController(IWizardPageController* controller);
  IWizardPageController* GetController() override { return m_controller; }
  int GetHelpContextId(int) override { return kHelpTopic; }

 private:
  IWizardPageController* m_controller = nullptr;
};
