#include "wizard/LostRecoveryDiskDeviceSelectPage.h"

#include <QCursor>
#include <cinttypes>

#include "controls/DeviceSelectCtrl.h"
#include "platform/Log.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"

CLostRecoveryDiskDeviceSelectPage::CLostRecoveryDiskDeviceSelectPage(QWidget* parent)
    : CDeviceSelectPage(parent) {
  CreateRefreshBar(kCommandRefresh);
  if (!RefreshButton()) m_initResult = kInitFailed;
  CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
  list->SetCtrlStyle(CtrlStyleDisk);
  connect(list, &CDeviceSelectCtrl::itemDoubleClicked, this, [this] { OnCommand(kCommandRecover); });
  connect(list, &CDeviceSelectCtrl::itemRightClicked, this,
          [this](const QPoint& at) { ShowRecoverySourceItemMenu(at, kCommandRecover); });
  CreateImageMenuButton(kCommandImageMenu);
}

void CLostRecoveryDiskDeviceSelectPage::SetController(CLostRecoveryDiskDeviceSelectController* controller) {
  LogError("------------------------ParmInfo:ILostRecoveryDiskDeviceSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
  SetDeviceController(controller);
}

IWizardPageController* CLostRecoveryDiskDeviceSelectPage::GetController() { return m_controller; }

int CLostRecoveryDiskDeviceSelectPage::GetHelpContextId(int) { return kHelpTopic; }

bool CLostRecoveryDiskDeviceSelectPage::OnCommand(int commandId) {
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
    default:
      return OnDeviceCommand(commandId);
  }
}
