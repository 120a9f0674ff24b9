#pragma once
// The user's scan options and a few facts about the recovery in progress: one program-wide object,
// built on first use and never saved. It sits at the bottom of the library stack because the device
// layer itself reads it (the bad-sector switch).
//
// Written only on the user-interface thread between scans; read by the workers while they run.

#include <cstdint>
#include <string>
#include <vector>

class IStorageDevice;

namespace corvale {
// Translated texts by numeric id, in place of a language module's string table.
class IStringTable {
 public:
  virtual ~IStringTable() = default;
  // The text of string `id`, or an empty string when the table has none.
  virtual std::string Get(uint32_t id) const = 0;
};
}  // namespace corvale

struct RecoveryCommonOptions {
  int32_t UseBootRecords = 1;
  int32_t UsePartitionTables = 0;
  int32_t ExtensiveVolumeSearch = 0;
  int32_t IgnoreBadSectors = 1;
};

struct RecoveryFatOptions {
  int32_t CheckFatDate = 1;
  int32_t CheckFatTime = 1;
  int32_t FatOption3 = 1;
  int32_t UseFirstFatCopy = 1;
  int32_t UseSecondFatCopy = 1;
};

struct RecoveryNtfsOptions {
  int32_t UseNtfsFilesForVolumeSize = 1;
  int32_t UseMftFile = 1;
  int32_t ShowMftFilesOnly = 0;
};

// The built-in RAW file-type ids 1..73 in ascending order: every type is carved unless the user
// says otherwise.
std::vector<int32_t> AllBuiltInRawFileTypes();

struct RecoveryRawOptions {
  int32_t RecoverRawFiles = 1;
  int32_t RawFilesOnly = 0;
  int64_t MaxRawFileSize = 50000000;
  std::vector<int32_t> RawFileTypes = AllBuiltInRawFileTypes();
};

class CRecoveryContext {
 public:
  CRecoveryContext();

  // Puts the Common, FAT, NTFS and RAW switches back to their defaults and forgets the source root
  // device; the chosen file types, language, source, page flow, mark flag and mode stay.
  void ResetOptions();

  // Common
  int32_t UseBootRecords;
  int32_t UsePartitionTables;
  int32_t ExtensiveVolumeSearch;
  int32_t IgnoreBadSectors;
  // Wizard
  int32_t PageFlowSwitch;
  int32_t SourceMarkFlag;
  IStorageDevice* SourceRootDevice;  // not owned
  // Language
  int32_t LanguageId;  // 1 Chinese, 2 English, 3 Deutsch, 4 Japanese
  const corvale::IStringTable* LanguageModule;
  // FAT
  int32_t CheckFatDate;
  int32_t CheckFatTime;
  int32_t FatOption3;
  int32_t UseFirstFatCopy;
  int32_t UseSecondFatCopy;
  // NTFS
  int32_t UseNtfsFilesForVolumeSize;
  int32_t UseMftFile;
  int32_t ShowMftFilesOnly;
  // RAW
  int32_t RecoverRawFiles;
  int32_t RawFilesOnly;
  int64_t MaxRawFileSize;
  std::vector<int32_t> RawFileTypes;
  // Source
  std::string SourceVolumeName;
  uint8_t SourceDriveLetter;  // 255 = none
  // Mode: 0 Deleted File Recovery, 1 Format Recovery, 2 Partition Recovery
  int32_t RecoveryMode;

  // The four option groups as blocks, for the advanced-settings dialog.
  RecoveryCommonOptions GetCommonOptions() const;
  void SetCommonOptions(const RecoveryCommonOptions& o);
  RecoveryFatOptions GetFatOptions() const;
  void SetFatOptions(const RecoveryFatOptions& o);
  RecoveryNtfsOptions GetNtfsOptions() const;
  void SetNtfsOptions(const RecoveryNtfsOptions& o);
  RecoveryRawOptions GetRawOptions() const;
  void SetRawOptions(const RecoveryRawOptions& o);
};

CRecoveryContext& GetRecoveryContext();
