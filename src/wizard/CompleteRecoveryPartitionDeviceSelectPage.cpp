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
  m_imageButton = new QPushButton(QStringLiteral("Disk Image..."), this);
  m_imageButton->setObjectName(QString::number(kCommandImageMenu));
  m_imageButton->setFocusPolicy(Qt::NoFocus);
  connect(m_imageButton, &QPushButton::clicked, this, [this] { OnCommand(kCommandImageMenu); });
}

void CCompleteRecoveryPartitionDeviceSelectPage::Layout(int cx, int cy) {
  CDeviceSelectPage::Layout(cx, cy);
  if (!m_imageButton) return;
  const QSize size = m_imageButton->sizeHint();
  const int top = RefreshButton() ? RefreshButton()->y() : 4;
  const int height = RefreshButton() ? std::max(RefreshButton()->height(), size.height()) : size.height();
  const QRect list = GetDeviceSelectCtrl()->geometry();
  m_imageButton->setGeometry(list.right() + 1 - size.width(), top, size.width(), height);
  m_imageButton->raise();
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
      ShowImageMenu(
          m_imageButton ? m_imageButton->mapToGlobal(QPoint(0, m_imageButton->height())) : QCursor::pos(),
          kCommandLoadSavedResult);
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
