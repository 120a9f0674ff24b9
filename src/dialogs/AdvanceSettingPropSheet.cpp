#include "dialogs/AdvanceSettingPropSheet.h"

#include <QPainter>
#include <QVBoxLayout>

#include "ui/UiFont.h"

const QColor CAdvanceSettingPropSheet::kTabBackColor(246, 252, 55);
const QColor CAdvanceSettingPropSheet::kClientColor(214, 230, 255);

CAdvanceSettingPropSheet::CAdvanceSettingPropSheet(QWidget* parent) : QWidget(parent) {
  m_tabCtrl = new CEnTabCtrl(this);
  // The look is set before the bar paints for the first time.
  m_tabCtrl->SetDrawMode(kDrawMode);
  m_tabCtrl->SetBackColor(kTabBackColor);
  CEnTabCtrl::SetLookFlags(true, kLookFlags);
  m_tabCtrl->setFont(corvale::ui::MakeUiFont(14, 400));
  // One tab per settings page, in the order of the dialog's picture tabs.
  for (const char* page : {"FAT", "NTFS", "Common", "RAW"}) m_tabCtrl->addTab(QString::fromLatin1(page));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(7, 7, 7, 7);
  layout->addWidget(m_tabCtrl);
}

void CAdvanceSettingPropSheet::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kClientColor);
}
