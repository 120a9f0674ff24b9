#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"

#include <QCursor>
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"

CCompleteRecoveryPartitionDeviceSelectPage::CCompleteRecoveryPartitionDeviceSelectPage(QWidget* parent)
    : CDeviceSelectPage(parent) {
  CreateRefreshBar(kCommandRefresh);
  if (!RefreshButton()) {
    m_initResult = kInitFailed;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Init CCompleteRecoveryPartitionDeviceSelectPage is false error=0x%x,GetLastError=%d",
                  m_initResult, 0);
    corvale::ui::ShowMessageBox(text, GetProductTitle());
  }
  CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
  list->SetCtrlStyle(CtrlStylePartition);
  connect(list, &CDeviceSelectCtrl::itemDoubleClicked, this, [this] { OnCommand(kCommandRecover); });
  connect(list, &CDeviceSelectCtrl::itemRightClicked, this,
          [this](const QPoint& at) { ShowRecoverySourceItemMenu(at, kCommandRecover); });
  CreateImageMenuButton(kCommandImageMenu);
}

void CCompleteRecoveryPartitionDeviceSelectPage::SetController(
    CCompleteRecoveryPartitionDeviceSelectController* controller) {
  LogError(
      "------------------------ParmInfo:ICompleteRecoveryPartitionDeviceSelectController* "
      "pController=%" PRIxPTR,
      reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
  SetDeviceController(controller);
}

IWizardPageController* CCompleteRecoveryPartitionDeviceSelectPage::GetController() { return m_controller; }

int CCompleteRecoveryPartitionDeviceSelectPage::GetHelpContextId(int) { return kHelpTopic; }

bool CCompleteRecoveryPartitionDeviceSelectPage::OnCommand(int commandId) {
  if (!m_controller) return false;
  switch (commandId) {
    case kCommandRefresh:
      m_controller->StartDeviceCollection();
      return true;
    case kCommandRecover:
      m_controller->Next();
      return true;
    case kCommandImageMenu:
      ShowImageMenu(ImageMenuPoint(), kCommandLoadSavedResult);
      return true;
    case kCommandLoadSavedResult:
      LoadSavedResult();
      return true;
    case kCommandOpenRawImage:
      m_controller->OpenRawImageFile();
      return true;
    default:
      return OnDeviceCommand(commandId);
  }
}
