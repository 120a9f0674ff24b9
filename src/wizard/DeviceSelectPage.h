#pragma once
// The base of the pages that pick the source of a recovery from a device list: the list with its
// frame, and under it the check box "Manually select historical partitions", which shows and sets
// the recovery's manual-partition-selection flag. A page of this kind adds a Refresh button and a
// strip beside it above the list; its controller fills the list.

#include <cstdint>

#include "wizard/WizardPage.h"

class CButtonPlus;
class CDeviceSelectCtrl;
class CTransButton;

class CDeviceSelectPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kDeviceControlId = 1200;
  static constexpr int kCheckBoxId = 1010;
  static constexpr int kStripId = 200;

  explicit CDeviceSelectPage(QWidget* parent = nullptr);

  CDeviceSelectCtrl* GetDeviceSelectCtrl() const { return m_device; }
  CTransButton* ManualSelectionBox() const { return m_checkBox; }

  void Layout(int cx, int cy) override;
  void Draw(QPainter* dc) override;
  // Draws what a page adds over the frame; nothing here.
  virtual void DrawExtra(QPainter* dc);

 protected:
  void showEvent(QShowEvent* event) override;
  // Makes the Refresh button (command `refreshId`) and the strip beside it.
  void CreateRefreshBar(int refreshId);
  CButtonPlus* RefreshButton() const { return m_refresh; }

 private:
  CDeviceSelectCtrl* m_device = nullptr;
  CTransButton* m_checkBox = nullptr;
  CButtonPlus* m_refresh = nullptr;
  CButtonPlus* m_strip = nullptr;
};
