#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <algorithm>
#include <cinttypes>

#include "controls/ButtonPlus.h"
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
  CreateImageMenuButton(kCommandImageMenu);
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
  if (commandId == kCommandImageMenu) {
    ShowImageMenu(ImageMenuPoint());
    return true;
  }
  if (commandId == kCommandCreateImage) {
    m_controller->CreateImageOfSelectedVolume();
    return true;
  }
  if (commandId == kCommandOpenImage) {
    m_controller->OpenImage();
    return true;
  }
  if (commandId == kCommandCloseImage) {
    m_controller->CloseSelectedImage();
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

void CDeleteRecoveryPartitionDeviceSelectPage::ShowImageMenu(const QPoint& at) {
  if (!m_controller) return;
  QMenu menu(this);
  auto entry = [&menu](uint32_t id, const char* fallback) {
    return menu.addAction(corvale::ui::StringOr(id, fallback));
  };
  QAction* create = entry(kCommandCreateImage, "Disk Image");
  QAction* open = entry(kCommandOpenImage, "Open Disk Image");
  QAction* close = entry(kCommandCloseImage, "Delete Image");
  const bool selected = m_controller->SelectCurrentItem();
  const bool image = selected && m_controller->IsImageSelected();
  create->setEnabled(selected && !image);
  close->setEnabled(image);
  QAction* chosen = m_menuRunner ? m_menuRunner(menu, at) : menu.exec(at);
  if (!chosen || !chosen->isEnabled()) return;
  if (chosen == create) OnCommand(kCommandCreateImage);
  if (chosen == open) OnCommand(kCommandOpenImage);
  if (chosen == close) OnCommand(kCommandCloseImage);
}
