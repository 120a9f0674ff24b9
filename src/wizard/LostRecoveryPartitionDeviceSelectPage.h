#pragma once
// Page 4, partition recovery: the lost partitions the search found on the chosen disk. The user
// picks one and goes on, or ticks "Full Scan" to have the whole disk scanned when the wanted
// partition is not listed; picking a partition and ticking Full Scan undo each other.

#include <functional>

#include "wizard/DeviceSelectPage.h"

class ILostRecoveryPartitionDeviceSelectController;
class CTransButton;
class QAction;
class QDialog;
class QMenu;

class CLostRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 51;
  static constexpr int kFullScanId = 1016;
  static constexpr int kCommandRecover = 1017;
  static constexpr int kCommandProperties = 32776;

  explicit CLostRecoveryPartitionDeviceSelectPage(QWidget* parent = nullptr);

  void SetController(ILostRecoveryPartitionDeviceSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  bool OnCommand(int commandId) override;
  void DrawExtra(QPainter* dc) override;

  // Unticks Full Scan and tells the controller (Home and Back).
  void ResetFullScan();
  CTransButton* FullScanBox() const { return m_fullScan; }

  // How the row menu and modal dialogs are run; null runs them for real. Tests choose.
  using MenuRunner = std::function<QAction*(QMenu& menu, const QPoint& at)>;
  void SetMenuRunner(MenuRunner runner) { m_menuRunner = std::move(runner); }
  using DialogRunner = std::function<void(QDialog& dialog)>;
  void SetDialogRunner(DialogRunner runner) { m_dialogRunner = std::move(runner); }

 private:
  void OnFullScanClicked();
  void OnItemClicked();
  void ShowItemMenu(const QPoint& at);

  ILostRecoveryPartitionDeviceSelectController* m_controller = nullptr;
  CTransButton* m_fullScan = nullptr;
  MenuRunner m_menuRunner;
  DialogRunner m_dialogRunner;
};
