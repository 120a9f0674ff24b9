#pragma once
// The records of the wizard's source lists (a disk or opened image of the disk lists, a volume or
// opened image of the volume lists) are the engine's, as the device collection fills them.

#include "core/SourceRecords.h"
