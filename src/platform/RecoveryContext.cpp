#include "platform/RecoveryContext.h"

namespace {
constexpr int32_t kBuiltInTypeCount = 73;
}

CRecoveryContext::CRecoveryContext()
    : PageFlowSwitch(0),
      SourceMarkFlag(0),
      SourceRootDevice(nullptr),
      LanguageId(2),
      LanguageModule(nullptr),
      SourceDriveLetter(255),
      RecoveryMode(0) {
  ResetOptions();
  RawFileTypes = AllBuiltInRawFileTypes();
}

std::vector<int32_t> AllBuiltInRawFileTypes() {
  std::vector<int32_t> ids;
  ids.reserve(kBuiltInTypeCount);
  for (int32_t id = 1; id <= kBuiltInTypeCount; ++id) ids.push_back(id);
  return ids;
}

void CRecoveryContext::ResetOptions() {
  SetCommonOptions(RecoveryCommonOptions{});
  SourceRootDevice = nullptr;
  SetFatOptions(RecoveryFatOptions{});
  SetNtfsOptions(RecoveryNtfsOptions{});
  RecoveryRawOptions raw;
  RecoverRawFiles = raw.RecoverRawFiles;
  RawFilesOnly = raw.RawFilesOnly;
  MaxRawFileSize = raw.MaxRawFileSize;
}

RecoveryCommonOptions CRecoveryContext::GetCommonOptions() const {
  return {UseBootRecords, UsePartitionTables, ExtensiveVolumeSearch, IgnoreBadSectors};
}
void CRecoveryContext::SetCommonOptions(const RecoveryCommonOptions& o) {
  UseBootRecords = o.UseBootRecords;
  UsePartitionTables = o.UsePartitionTables;
  ExtensiveVolumeSearch = o.ExtensiveVolumeSearch;
  IgnoreBadSectors = o.IgnoreBadSectors;
}
RecoveryFatOptions CRecoveryContext::GetFatOptions() const {
  return {CheckFatDate, CheckFatTime, FatOption3, UseFirstFatCopy, UseSecondFatCopy};
}
void CRecoveryContext::SetFatOptions(const RecoveryFatOptions& o) {
  CheckFatDate = o.CheckFatDate;
  CheckFatTime = o.CheckFatTime;
  FatOption3 = o.FatOption3;
  UseFirstFatCopy = o.UseFirstFatCopy;
  UseSecondFatCopy = o.UseSecondFatCopy;
}
RecoveryNtfsOptions CRecoveryContext::GetNtfsOptions() const {
  return {UseNtfsFilesForVolumeSize, UseMftFile, ShowMftFilesOnly};
}
void CRecoveryContext::SetNtfsOptions(const RecoveryNtfsOptions& o) {
  UseNtfsFilesForVolumeSize = o.UseNtfsFilesForVolumeSize;
  UseMftFile = o.UseMftFile;
  ShowMftFilesOnly = o.ShowMftFilesOnly;
}
RecoveryRawOptions CRecoveryContext::GetRawOptions() const {
  return {RecoverRawFiles, RawFilesOnly, MaxRawFileSize, RawFileTypes};
}
void CRecoveryContext::SetRawOptions(const RecoveryRawOptions& o) {
  RecoverRawFiles = o.RecoverRawFiles;
  RawFilesOnly = o.RawFilesOnly;
  MaxRawFileSize = o.MaxRawFileSize;
  RawFileTypes = o.RawFileTypes;
}

CRecoveryContext& GetRecoveryContext() {
  static CRecoveryContext context;
  return context;
}
