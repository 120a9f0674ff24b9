#pragma once
// The upcase table NTFS volumes carry in their $UpCase file: for each of the 65536 UTF-16 code
// units the unit it compares as. The scan recognises $UpCase contents on a disk by comparing its
// sectors with this table, 256 units (512 bytes) at a time.
//
// The table is the one a new volume gets from mkntfs, byte for byte: the upper-case mappings of
// the Basic Multilingual Plane as NTFS keeps them (they differ from today's Unicode upper-casing in
// 16 of the 256 blocks). It is held as ranges and expanded once on first use.

#include <cstddef>
#include <cstdint>

constexpr size_t kNTFSUpCaseUnits = 65536;
constexpr size_t kNTFSUpCaseBlockBytes = 512;  // 256 units: one sector of the file

// The table, kNTFSUpCaseUnits units.
const uint16_t* GetNTFSUpCaseTable();
// The table's on-disk bytes (little-endian units), 2 x kNTFSUpCaseUnits bytes: block b (units
// 256 b to 256 b + 255) starts at b x 512.
const uint8_t* GetNTFSUpCaseTableBytes();
