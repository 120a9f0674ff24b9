#pragma once
// The Ext2/Ext3 entry of the core's engine table: its volume analyser, directory build and search
// controller and lost-partition tester, and its notice for a volume whose files use extents (ext4).
// Registered by RegisterExt2Engine.

#include <cstdint>

// The text of the volume notice: the volume's files use extents, which the engine does not read.
inline constexpr uint32_t kStringExt2Extents = 62041;

bool RegisterExt2FileSystemEngine();
