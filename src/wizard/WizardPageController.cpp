#include "wizard/WizardPageController.h"

#include "core/LostPartitionRecord.h"
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

// The advanced-settings dialog is not part of the program yet; until it is, there is nothing to open.
void IWizardPageController::ShowAdvancedSettings() {}

int IWizardPageController::RestoreState(IRSData*, IDIRBuildCallback*) { return 0; }

int IWizardPageController::SaveState(IRSData*, IDIRBuildCallback*) { return 0; }

int IWizardPageController::GetStateTypeId() { return kStateTypeNotSaved; }

int IWizardPageController::GetRecoveryKind() { return kRecoveryKindNone; }

CSourceDeviceChoice IWizardPageController::GetSourceSelection() { return CSourceDeviceChoice(); }

void IWizardPageController::Cleanup() {}
