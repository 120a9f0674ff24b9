#include "wizard/ScanPartitionDeviceSelectPage.h"

#include "core/SearchedPartitionInfo.h"

void CScanPartitionDeviceSelectPage::ExtRowSectors(const CSearchedPartitionInfo& record, int64_t* start,
                                                   int64_t* end) {
  const int64_t first = record.GetStartSector();
  if (start) *start = first;
  if (end)
    *end = static_cast<int64_t>(static_cast<uint64_t>(first) +
                                static_cast<uint64_t>(record.GetSectorCount()) - 1);
}

int CScanPartitionDeviceSelectPage::RecommendationOf(int32_t mark) {
  return mark == 1 || mark == 2 ? mark : 0;
}
