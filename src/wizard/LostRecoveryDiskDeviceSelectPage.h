#pragma once
// Page 3, the disk page of partition recovery: the list of disks to search for lost partitions
// (and "Previous Recovery..." when a saved search can be resumed), with the Refresh button above
// it. Its controller fills the list; a double click, "Recover" or "Continue" in the row's menu, or
// the sheet's Next go on with the selected row.

#include "wizard/DeviceSelectPage.h"

class CLostRecoveryDiskDeviceSelectController;

class CLostRecoveryDiskDeviceSelectPage : public CDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 51;
  static constexpr int kCommandRefresh = 1013;
  static constexpr int kCommandImageMenu = 1014;
  static constexpr int kCommandRecover = 1015;
  static constexpr int kCommandLoadSavedResult = 1016;
  static constexpr int kInitFailed = 513;

  explicit CLostRecoveryDiskDeviceSelectPage(QWidget* parent = nullptr);

  void SetController(CLostRecoveryDiskDeviceSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  bool OnCommand(int commandId) override;
  int InitResult() const { return m_initResult; }

 private:
  CLostRecoveryDiskDeviceSelectController* m_controller = nullptr;
  int m_initResult = 0;
};
