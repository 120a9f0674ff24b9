#include "wizard/WizardPageController.h"

#include "core/LostPartitionRecord.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "ui/SourceRecords.h"

DiskRecord* CSourceDeviceChoice::GetDiskRecord() const {
  return m_kind == kDisk ? static_cast<DiskRecord*>(m_record) : nullptr;
}

VolumeRecord* CSourceDeviceChoice::GetPartitionRecord() const {
  return m_kind == kPartition ? static_cast<VolumeRecord*>(m_record) : nullptr;
}

CLostPartitionRecord* CSourceDeviceChoice::GetOtherRecord() const {
  return m_kind == kOther ? static_cast<CLostPartitionRecord*>(m_record) : nullptr;
}

IStorageDevice* CSourceDeviceChoice::GetSourceDevice() const {
  if (DiskRecord* disk = GetDiskRecord()) return disk->Device;
  if (VolumeRecord* volume = GetPartitionRecord()) return volume->Device;
  if (CLostPartitionRecord* found = GetOtherRecord()) return found->Device;
  return nullptr;
}

// Most pages open the settings without the RAW type tree: the file types were chosen on the type page.
void IWizardPageController::ShowAdvancedSettings() {
  CAdvanceSettingMasterDlg dialog(0, nullptr);
  dialog.SetRawTreeSwitch(0);
  dialog.DoModal();
}

int IWizardPageController::RestoreState(IRSData*, IDIRBuildCallback*) { return 0; }

int IWizardPageController::SaveState(IRSData*, IDIRBuildCallback*) { return 0; }

int IWizardPageController::GetStateTypeId() { return kStateTypeNotSaved; }

int IWizardPageController::GetRecoveryKind() { return kRecoveryKindNone; }

CSourceDeviceChoice IWizardPageController::GetSourceSelection() { return CSourceDeviceChoice(); }

void IWizardPageController::Cleanup() {}
