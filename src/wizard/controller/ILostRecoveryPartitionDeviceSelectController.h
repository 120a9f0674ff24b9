#pragma once
// What the page of lost partitions found on a disk asks of its controller: besides the wizard's
// common steps, whether the user wants the whole disk scanned instead of a listed partition.

#include "wizard/WizardPageController.h"

class ILostRecoveryPartitionDeviceSelectController : public IWizardPageController {
 public:
  // 1: the user ticked "Full Scan" (Next scans the whole disk); 0: Next opens the chosen partition.
  virtual void SetFullScan(int fullScan) = 0;
};
