#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"

#include <cinttypes>

#include "platform/Log.h"

void CLostRecoveryScanPartitionDeviceSelectPage::SetController(IWizardPageController* controller) {
  LogError("------------------------ParmInfo:ILostRecoveryDiskDeviceSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}
