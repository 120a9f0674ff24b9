#pragma once
// File-type ids of carved files and the process-wide table of their extensions and descriptions.
//
// Ids: 0 "Raw" (no recognised type); 1..73 the built-in types; 74..999 unused; 1000..1999 handed out
// at run time to the types of signature scripts, one per distinct extension; -1 an analyser with no
// type of its own. Rows 0..73 are fixed; the rest start empty and only the script rows are ever
// filled. Readers index by id, so every id from a file, a state stream or a script is checked with
// IsRawFileTypeIdInTable before it is used as an index.

#include <cstdint>

constexpr int32_t kRawFileTypeCount = 2000;
constexpr int32_t kLastBuiltInRawFileType = 73;
constexpr int32_t kFirstCustomRawFileType = 1000;
constexpr int32_t kNoRawFileType = -1;
constexpr int32_t kRawExtensionChars = 6;     // at most 5 characters and the NUL
constexpr int32_t kRawDescriptionChars = 80;  // at most 79 characters and the NUL

// Built-in ids by name, for the analysers that choose among several.
enum RawFileTypeId : int32_t {
  kRawTypeRaw = 0,
  kRawType3DS = 1,
  kRawType3GP = 2,
  kRawTypeADP = 3,
  kRawTypeANI = 4,
  kRawTypeAI = 5,
  kRawTypeASF = 6,
  kRawTypeAU = 7,
  kRawTypeAVI = 8,
  kRawTypeBMP = 9,
  kRawTypeCAB = 10,
  kRawTypeCDR = 11,
  kRawTypeCHM = 12,
  kRawTypeCLK = 13,
  kRawTypeCMX = 14,
  kRawTypeCPT = 15,
  kRawTypeCRW = 16,
  kRawTypeCSL = 17,
  kRawTypeCUR = 18,
  kRawTypeDBX = 19,
  kRawTypeDOC = 21,
  kRawTypeDWG = 22,
  kRawTypeDXF = 23,
  kRawTypeEMF = 24,
  kRawTypeEPS = 25,
  kRawTypeFH11 = 27,
  kRawTypeGIF = 28,
  kRawTypeGZ = 29,
  kRawTypeHLP = 30,
  kRawTypeHTM = 31,
  kRawTypeICO = 32,
  kRawTypeJPG = 33,
  kRawTypeLZH = 34,
  kRawTypeMAX = 35,
  kRawTypeMID = 36,
  kRawTypeMDB = 37,
  kRawTypeMNY = 38,
  kRawTypeMOF = 39,
  kRawTypeMOV = 40,
  kRawTypeMP3 = 41,
  kRawTypeMP4 = 42,
  kRawTypeMPP = 43,
  kRawTypeOLE = 44,
  kRawTypeONE = 45,
  kRawTypePDF = 46,
  kRawTypePNG = 47,
  kRawTypePPT = 48,
  kRawTypePUB = 49,
  kRawTypePSD = 50,
  kRawTypePSP = 51,
  kRawTypePST = 52,
  kRawTypeQPW = 53,
  kRawTypeRAR = 54,
  kRawTypeRIFF = 55,
  kRawTypeRTF = 56,
  kRawTypeSHW = 57,
  kRawTypeSWF = 58,
  kRawTypeTAR = 59,
  kRawTypeTIF = 60,
  kRawTypeTTF = 61,
  kRawTypeVSD = 62,
  kRawTypeWAV = 63,
  kRawTypeWPD = 64,
  kRawTypeWPG = 65,
  kRawTypeWMF = 66,
  kRawTypeXLS = 67,
  kRawTypeZIP = 68,
  kRawTypeDOCX = 69,
  kRawTypeXLSX = 70,
  kRawTypePPTX = 71,
  kRawTypeACCDB = 72,
  kRawTypeNEF = 73,
};

struct RawFileTypeTable {
  char Extensions[kRawFileTypeCount][kRawExtensionChars];
  char Descriptions[kRawFileTypeCount][kRawDescriptionChars];
};

// The one table of the process, built on first use.
RawFileTypeTable& GetRawFileTypeTable();

inline bool IsRawFileTypeIdInTable(int64_t id) { return id >= 0 && id < kRawFileTypeCount; }

// The extension (upper case, no dot) and description of `id`; empty for an id outside the table.
const char* GetRawFileExtension(int32_t id);
const char* GetRawFileDescription(int32_t id);
