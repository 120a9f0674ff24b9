#pragma once
// Page 1, the volume page of deleted-file recovery: the list of volumes to recover from, with the
// Refresh button above it. Its controller fills the list; a double click, "Recover" in the row's
// menu or the sheet's Next go on with the selected volume.

#include <QPushButton>
#include <functional>

#include "wizard/DeviceSelectPage.h"

class CDeleteRecoveryPartitionDeviceSelectController;
class QMenu;
class QAction;

class CDeleteRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 16;
  static constexpr int kCommandRefresh = 1007;
  static constexpr int kCommandImageMenu = 1008;
  static constexpr int kCommandRecover = 1009;
  static constexpr int kCommandCreateImage = 32771;
  static constexpr int kCommandOpenImage = 32772;
  static constexpr int kCommandCloseImage = 32773;
  // The init result when a part could not be made.
  static constexpr int kInitFailed = 513;

  explicit CDeleteRecoveryPartitionDeviceSelectPage(QWidget* parent = nullptr);

  void SetController(CDeleteRecoveryPartitionDeviceSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  bool OnCommand(int commandId) override;
  int InitResult() const { return m_initResult; }

  // How the row menu is shown and an entry chosen; null runs it at the given point. Tests choose.
  using MenuRunner = std::function<QAction*(QMenu& menu, const QPoint& at)>;
  void SetMenuRunner(MenuRunner runner) { m_menuRunner = std::move(runner); }

 private:
  void ShowItemMenu(const QPoint& at);
  // "Disk Image", "Open Disk Image", "Delete Image", greyed by what is selected.
  void ShowImageMenu(const QPoint& at);

  CDeleteRecoveryPartitionDeviceSelectController* m_controller = nullptr;
  MenuRunner m_menuRunner;
  int m_initResult = 0;
};
