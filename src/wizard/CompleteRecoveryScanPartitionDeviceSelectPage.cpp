#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"

#include <cinttypes>

#include "platform/Log.h"

void CCompleteRecoveryScanPartitionDeviceSelectPage::SetController(IWizardPageController* controller) {
  LogError(
      "------------------------ParmInfo:ICompleteRecoveryPartitionDeviceSelectController* "
      "pController=%" PRIxPTR,
      reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}
