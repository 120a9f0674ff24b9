#pragma once
// The controllers of the wizard: one per page, each living for the whole run, chained by a link to
// the controller before it. A controller that hands over in Next links the next controller back to
// itself (SetPreviousController) and activates it; Back and Home walk the links backwards, each
// controller releasing what its step built (Cleanup). The sheet's buttons reach the controller of
// the page now shown through the sheet controller.

#include <cstdint>

class IDIRBuildCallback;
class IRSData;
class IStorageDevice;
class CLostPartitionRecord;
struct DiskRecord;
struct VolumeRecord;

// The source of a recovery as the controllers hand it along: a disk of the disk lists (kind 0), a
// volume or image of the volume lists (kind 1), or a partition found by the lost-partition search
// (kind 2). The record is not owned.
class CSourceDeviceChoice {
 public:
  static constexpr int32_t kDisk = 0;
  static constexpr int32_t kPartition = 1;
  static constexpr int32_t kOther = 2;

  CSourceDeviceChoice() = default;
  explicit CSourceDeviceChoice(DiskRecord* disk) : m_kind(kDisk), m_record(disk) {}
  explicit CSourceDeviceChoice(VolumeRecord* partition) : m_kind(kPartition), m_record(partition) {}
  explicit CSourceDeviceChoice(CLostPartitionRecord* found) : m_kind(kOther), m_record(found) {}

  int32_t GetKind() const { return m_kind; }
  DiskRecord* GetDiskRecord() const;
  VolumeRecord* GetPartitionRecord() const;
  CLostPartitionRecord* GetOtherRecord() const;
  // The device the chosen source's files are read from: the device of the disk, volume or image
  // record, or the partition device of the found partition; null without a record.
  IStorageDevice* GetSourceDevice() const;

 private:
  int32_t m_kind = kDisk;
  void* m_record = nullptr;
};

// Recovery kinds a controller belongs to.
constexpr int kRecoveryKindDeleted = 0;
constexpr int kRecoveryKindComplete = 1;
constexpr int kRecoveryKindPartition = 2;
constexpr int kRecoveryKindNone = 3;

// The state type of a controller that is not saved in a scan state.
constexpr int kStateTypeNotSaved = 6;

class IWizardPageController {
 public:
  virtual ~IWizardPageController() = default;
  // Shows the controller's page and prepares it.
  virtual void Activate() = 0;
  // Releases what the step built and passes Home on to the previous controller.
  virtual void Home() = 0;
  virtual void Back() = 0;
  // True when the wizard moved on.
  virtual bool Next() = 0;
  virtual void SetPreviousController(IWizardPageController* previous) = 0;
  virtual IWizardPageController* GetPreviousController() = 0;
  // Opens the advanced settings of the run for this step.
  virtual void ShowAdvancedSettings();
  // Restores and saves the step's part of a scan state; 0 for a controller that keeps no state.
  virtual int RestoreState(IRSData* stream, IDIRBuildCallback* progress);
  virtual int SaveState(IRSData* stream, IDIRBuildCallback* progress);
  // The number a scan state knows the controller by (kStateTypeNotSaved when it is not saved).
  virtual int GetStateTypeId();
  // The kind of recovery the controller belongs to (kRecoveryKindNone when none).
  virtual int GetRecoveryKind();
  virtual CSourceDeviceChoice GetSourceSelection();
  // Releases what the step built.
  virtual void Cleanup();
};

class IWizardSheetController {
 public:
  virtual ~IWizardSheetController() = default;
  virtual void Home() = 0;
  virtual void Back() = 0;
  virtual bool Next() = 0;
  virtual void Help(int language) = 0;
};
