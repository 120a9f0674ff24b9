#pragma once
// The root entry of an NTFS partition's tree: the partition node that carries the partition's
// position and a folder's properties with the name the user sees for it.

#include <cstdint>

class CFileSystemNode;
class CNTFSFileProperties;

// Folder properties named after the recovery's source volume (its label and drive letter, when
// known), "NTFS" and the partition's number, index + 1: "D:(Data - NTFS 1)", "NTFS 2". The name is
// at most 99 bytes. `label` is the partition's own label, which the name does not use.
CNTFSFileProperties* CreateNTFSRootProperties(int32_t index, const char* label);

// A partition node with those properties, at `start` (device sectors) with clusters of
// `sectorsPerCluster` device sectors, type 3 (NTFS). The node is named after `label` when the label
// has 1 to 64 characters.
CFileSystemNode* CreateNTFSRootNode(uint64_t start, uint32_t sectorsPerCluster, int32_t index,
                                    const char* label);
