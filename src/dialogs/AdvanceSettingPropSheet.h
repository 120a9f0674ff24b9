#pragma once
// The property sheet of the settings: its tab bar is an enhanced tab bar painted entirely by
// itself (draw mode 2) in tints of one yellow, with every look bit on. The settings dialog makes one
// beside its own picture tabs and keeps it hidden.

#include <QWidget>

#include "controls/EnTabCtrl.h"

class CAdvanceSettingPropSheet : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDrawMode = 2;
  static const QColor kTabBackColor;
  static const QColor kClientColor;
  static constexpr uint32_t kLookFlags = CEnTabCtrl::ETC_FLAT | CEnTabCtrl::ETC_COLOR |
                                         CEnTabCtrl::ETC_SELECTION | CEnTabCtrl::ETC_GRADIENT |
                                         CEnTabCtrl::ETC_BACKTABS;

  explicit CAdvanceSettingPropSheet(QWidget* parent = nullptr);

  CEnTabCtrl* TabCtrl() const { return m_tabCtrl; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CEnTabCtrl* m_tabCtrl;
};
