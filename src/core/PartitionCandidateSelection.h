#pragma once
// After an intelligent search the engines hand back every partition their evidence supports, often
// far more than the disk ever held and overlapping one another (a backup boot record, an older file
// system under a newer one, a folder fragment). These steps weigh the candidates, order them and
// mark a set that does not overlap and fits on the device as the suggested layout. The list stays
// whole: unchosen candidates remain for the user to pick by hand.
//
// Called in this order on one list: ComputePartitionWeights, SortSearchedPartitions,
// SelectPartitionLayout.

#include <cstdint>

#include "core/IFileSystemSearchController.h"
#include "core/SectorRangeList.h"

class CSearchedPartitionInfo;

// Score S = score + 50 x folders match + files match (saturating at the 64-bit limits). Each
// candidate's weight becomes ln(S) / ln(M), M the largest S of the list; an S below 2 counts as
// itself and a largest S below 2 divides by 1. The best-supported candidate weighs 1.0.
void ComputePartitionWeights(SearchedPartitionInfoList& list);

// Stable sort by weight, highest first; equal weights keep their order.
void SortSearchedPartitions(SearchedPartitionInfoList& list);

// Marks the chosen layout on a device of `deviceSectors` sectors: repeatedly the heaviest
// candidate (weight above 0, the earlier of equal weights) that still fits in the free sectors,
// until none fits. The first four picks move to the front of the list (taking the front's weight)
// unless they already stand first or second. Then the first candidate that spans the whole device
// (within 32,768 sectors) is marked and brought to the front even when it overlaps earlier picks.
void SelectPartitionLayout(SearchedPartitionInfoList& list, int64_t deviceSectors);

// The sectors a candidate occupies on the device: from its partition start, its sector count long.
// (The start sector is the data area's start for some engines and would push the range past the
// partition's real end.)
SectorRange CandidateRange(const CSearchedPartitionInfo& partition);
