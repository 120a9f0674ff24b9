#pragma once
// Page 2, the device page of format recovery: the volumes and opened disk images to search for
// lost file systems (and "Previous Recovery..." when a saved search can be resumed), with the
// Refresh button above the list and the image menu's button beside it. Its controller fills the
// list; a double click, "Recover" or "Continue" in the row's menu, or the sheet's Next go on with
// the selected row. Ctrl+O opens a raw image file and searches it at once.

#include <QPushButton>

#include "wizard/DeviceSelectPage.h"

class CCompleteRecoveryPartitionDeviceSelectController;

class CCompleteRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 50;
  static constexpr int kCommandRefresh = 1010;
  static constexpr int kCommandImageMenu = 1011;
  static constexpr int kCommandRecover = 1012;
  static constexpr int kCommandLoadSavedResult = 1013;
  static constexpr int kInitFailed = 513;

  explicit CCompleteRecoveryPartitionDeviceSelectPage(QWidget* parent = nullptr);

  void SetController(CCompleteRecoveryPartitionDeviceSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  bool OnCommand(int commandId) override;
  int InitResult() const { return m_initResult; }

 private:
  CCompleteRecoveryPartitionDeviceSelectController* m_controller = nullptr;
  int m_initResult = 0;
};
