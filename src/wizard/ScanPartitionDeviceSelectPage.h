#pragma once
// The base of the two pages that list the partitions a scan found, for ticking. The rows
// themselves come with those pages; the base already knows how a row shows a partition's sectors
// and the search's recommendation.

#include <cstdint>

#include "wizard/WizardPage.h"

class CSearchedPartitionInfo;

class CScanPartitionDeviceSelectPage : public CWizardPage {
  Q_OBJECT

 public:
  using CWizardPage::CWizardPage;

  // The first and last sector of an Ext2/Ext3 row: the record's start sector and start + sector
  // count - 1. Values from a state file can be anything; the sum wraps instead of overflowing.
  static void ExtRowSectors(const CSearchedPartitionInfo& record, int64_t* start, int64_t* end);
  // The recommendation a row shows for a record's mark: 1 (recommended) and 2 as they are, anything
  // else 0.
  static int RecommendationOf(int32_t mark);
  // The partition list's notice of a right click needs nothing from the page.
  int OnPartitionListNotify() { return 0; }
};
