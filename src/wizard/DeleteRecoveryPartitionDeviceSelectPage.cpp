#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"

#include <QAction>
#include <QMenu>
#include <cinttypes>

#include "controls/DeviceSelectCtrl.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"

CDeleteRecoveryPartitionDeviceSelectPage::CDeleteRecoveryPartitionDeviceSelectPage(QWidget* parent)
    : CDeviceSelectPage(parent) {
  CreateRefreshBar(kCommandRefresh);
  if (!RefreshButton()) {
    m_initResult = kInitFailed;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Init CDeleteRecoveryPartitionDeviceSelectPage is false error=0x%x,GetLastError=%d",
                  m_initResult, 0);
    corvale::ui::ShowMessageBox(text, GetProductTitle());
  }
  CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
  list->SetCtrlStyle(CtrlStylePartition);
  connect(list, &CDeviceSelectCtrl::itemDoubleClicked, this, [this] { OnCommand(kCommandRecover); });
  connect(list, &CDeviceSelectCtrl::itemRightClicked, this,
          &CDeleteRecoveryPartitionDeviceSelectPage::ShowItemMenu);
}

void CDeleteRecoveryPartitionDeviceSelectPage::SetController(
    CDeleteRecoveryPartitionDeviceSelectController* controller) {
  LogError(
      "------------------------ParmInfo:IDeleteRecoveryPartitionDeviceSelectController* "
      "pController=%" PRIxPTR,
      reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

IWizardPageController* CDeleteRecoveryPartitionDeviceSelectPage::GetController() { return m_controller; }

int CDeleteRecoveryPartitionDeviceSelectPage::GetHelpContextId(int) { return kHelpTopic; }

bool CDeleteRecoveryPartitionDeviceSelectPage::OnCommand(int commandId) {
  if (!m_controller) return false;
  if (commandId == kCommandRefresh) {
    m_controller->StartDeviceCollection();
    return true;
  }
  if (commandId == kCommandRecover) {
    m_controller->Next();
    return true;
  }
  return false;
}

void CDeleteRecoveryPartitionDeviceSelectPage::ShowItemMenu(const QPoint& at) {
  QMenu menu(this);
  QString text = corvale::ui::LoadStringResource(189);
  QAction* recover = menu.addAction(text.isEmpty() ? QStringLiteral("Recover") : text);
  QAction* chosen = m_menuRunner ? m_menuRunner(menu, at) : menu.exec(at);
  if (chosen == recover) OnCommand(kCommandRecover);
}
