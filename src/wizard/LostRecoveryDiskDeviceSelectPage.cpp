#include "wizard/LostRecoveryDiskDeviceSelectPage.h"

#include <QAction>
#include <QMenu>
#include <cinttypes>

#include "controls/DeviceSelectCtrl.h"
#include "platform/Log.h"
#include "ui/Resources.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"

namespace {

QString Text(uint32_t id, const char* fallback) {
  const QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

}  // namespace

CLostRecoveryDiskDeviceSelectPage::CLostRecoveryDiskDeviceSelectPage(QWidget* parent)
    : CDeviceSelectPage(parent) {
  CreateRefreshBar(kCommandRefresh);
  if (!RefreshButton()) m_initResult = kInitFailed;
  CDeviceSelectCtrl* list = GetDeviceSelectCtrl();
  list->SetCtrlStyle(CtrlStyleDisk);
  connect(list, &CDeviceSelectCtrl::itemDoubleClicked, this, [this] { OnCommand(kCommandRecover); });
  connect(list, &CDeviceSelectCtrl::itemRightClicked, this, &CLostRecoveryDiskDeviceSelectPage::ShowItemMenu);
}

void CLostRecoveryDiskDeviceSelectPage::SetController(CLostRecoveryDiskDeviceSelectController* controller) {
  LogError("------------------------ParmInfo:ILostRecoveryDiskDeviceSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
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
    case kCommandCreateImage:
      m_controller->CreateImageOfSelectedDisk();
      return true;
    case kCommandOpenImage:
      m_controller->OpenImage();
      return true;
    case kCommandRemove:
      if (m_controller->IsPreviousRecoverySelected())
        m_controller->RemovePreviousRecoveryItem();
      else
        m_controller->CloseSelectedImage();
      return true;
    default:
      return false;
  }
}

void CLostRecoveryDiskDeviceSelectPage::ShowItemMenu(const QPoint& at) {
  if (!m_controller) return;
  QMenu menu(this);
  const bool previous = m_controller->IsPreviousRecoverySelected();
  QAction* recover = menu.addAction(previous ? Text(308, "Continue") : Text(189, "Recover"));
  QAction* remove = nullptr;
  if (previous || m_controller->IsImageSelected()) remove = menu.addAction(Text(395, "Remove"));
  QAction* chosen = m_menuRunner ? m_menuRunner(menu, at) : menu.exec(at);
  if (!chosen) return;
  if (chosen == recover) OnCommand(kCommandRecover);
  if (chosen == remove) OnCommand(kCommandRemove);
}
