#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"

#include <QAction>
#include <QBoxLayout>
#include <QDialog>
#include <QMenu>
#include <QPainter>
#include <cinttypes>

#include "controls/DeviceSelectCtrl.h"
#include "controls/TransButton.h"
#include "core/LostPartitionRecord.h"
#include "dialogs/PropertiesDlg.h"
#include "platform/Log.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "wizard/controller/ILostRecoveryPartitionDeviceSelectController.h"

namespace {

constexpr int kFullScanIndent = 18;

}  // namespace

CLostRecoveryPartitionDeviceSelectPage::CLostRecoveryPartitionDeviceSelectPage(QWidget* parent)
    : CDeviceSelectPage(parent) {
  m_fullScan = new CTransButton(CTransButton::Kind::CheckBox, this);
  m_fullScan->setObjectName(QString::number(kFullScanId));
  m_fullScan->setText(corvale::ui::StringOr(
      188, "Full Scan ( If the partition is not found, please check it and click Next )"));
  m_fullScan->SetFont(90, corvale::ui::GetUIFontName(), true);
  m_fullScan->ShowFocusRect(false);
  connect(m_fullScan, &CTransButton::Clicked, this, [this](int, CTransButton*) { OnFullScanClicked(); });
  // The box stands in the subtitle band, 18 pixels in, over two thirds of the rest of the width.
  m_fullScan->setMinimumHeight(kSubtitleBandBottom - kTitleBandHeight);
  TopRow()->addSpacing(kFullScanIndent);
  TopRow()->addWidget(m_fullScan, 2);
  TopRow()->addStretch(1);

  CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
  list->SetCtrlStyle(CtrlStylePartition);
  connect(list, &CDeviceSelectCtrl::selectionChanged, this,
          &CLostRecoveryPartitionDeviceSelectPage::OnItemClicked);
  connect(list, &CDeviceSelectCtrl::itemDoubleClicked, this, [this] {
    if (m_controller) m_controller->Next();
  });
  connect(list, &CDeviceSelectCtrl::itemRightClicked, this,
          &CLostRecoveryPartitionDeviceSelectPage::ShowItemMenu);
  // The properties of the picked partition: in its right-click menu, and Alt+Enter in the list.
  auto* properties = new QAction(this);
  properties->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
  properties->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(properties, &QAction::triggered, this, [this] { OnCommand(kCommandProperties); });
  list->addAction(properties);
}

void CLostRecoveryPartitionDeviceSelectPage::SetController(
    ILostRecoveryPartitionDeviceSelectController* controller) {
  LogError("------------------------ParmInfo:ILostRecoveryDiskDeviceSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

IWizardPageController* CLostRecoveryPartitionDeviceSelectPage::GetController() { return m_controller; }

int CLostRecoveryPartitionDeviceSelectPage::GetHelpContextId(int) { return kHelpTopic; }

void CLostRecoveryPartitionDeviceSelectPage::OnFullScanClicked() {
  const bool ticked = m_fullScan->isChecked();
  if (m_controller) m_controller->SetFullScan(ticked ? 1 : 0);
  if (ticked) GetDeviceSelectCtrl()->ClearSelection();
}

void CLostRecoveryPartitionDeviceSelectPage::OnItemClicked() {
  m_fullScan->setChecked(false);
  if (m_controller) m_controller->SetFullScan(0);
}

void CLostRecoveryPartitionDeviceSelectPage::ResetFullScan() {
  m_fullScan->setChecked(false);
  if (m_controller) m_controller->SetFullScan(0);
}

bool CLostRecoveryPartitionDeviceSelectPage::OnCommand(int commandId) {
  if (commandId == kCommandRecover) {
    if (m_controller) m_controller->Next();
    return true;
  }
  if (commandId == kCommandProperties) {
    CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
    const int row = list->GetCurSel();
    // The controller gives every row the found partition it shows.
    auto* found = row >= 0 ? static_cast<CLostPartitionRecord*>(list->GetItemData(row)) : nullptr;
    if (!found) return true;
    CScanPartitionPropertiesDlg dialog(this);
    dialog.SetDevice(
        DeviceAreaRecord{static_cast<int64_t>(found->StartSector), static_cast<int64_t>(found->SectorCount)});
    if (m_dialogRunner)
      m_dialogRunner(dialog);
    else
      dialog.exec();
    return true;
  }
  return false;
}

void CLostRecoveryPartitionDeviceSelectPage::ShowItemMenu(const QPoint& at) {
  QMenu menu(this);
  QAction* recover = menu.addAction(corvale::ui::StringOr(189, "Recover"));
  QAction* properties = menu.addAction(QStringLiteral("Properties"));
  QAction* chosen = m_menuRunner ? m_menuRunner(menu, at) : menu.exec(at);
  if (chosen == recover) OnCommand(kCommandRecover);
  if (chosen == properties) OnCommand(kCommandProperties);
}

void CLostRecoveryPartitionDeviceSelectPage::DrawExtra(QPainter* dc) {
  QFont font(QString::fromStdString(corvale::ui::GetUIFontName()));
  font.setPixelSize(15);
  dc->setFont(font);
  dc->setPen(Qt::black);
  dc->drawText(TitleRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               corvale::ui::StringOr(187, "Select a partition and click Next to recover:"));
}
