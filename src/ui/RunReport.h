#pragma once
// The readable report of a run in the log file: a header at start-up (product, date, memory,
// system, folders) and, while the wizard works, one line per step of the recovery, the device a
// search runs on, the tables of partitions found and the outcome of the copy. Every line goes
// through LogInfo; the functions keep no state.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/SourceRecords.h"

class CSearchedPartitionInfo;

// Header, written by start-up in this order.
void LogBanner();
void LogDateGenerated();
void LogMemoryStatus();
void LogOsVersion();
void LogOsDirectory();
void LogModuleDirectory();

// Recovery status codes.
enum RecoveryStatus : int {
  kStatusDeletedRecovery = 0,
  kStatusCompleteRecovery = 1,
  kStatusPartitionRecovery = 2,
  kStatusUserAbort = 3,
  kStatusFoundNothing = 4,
  kStatusSearchedWholeDevice = 5,
  kStatusDisplayingTree = 6,
  kStatusRestoringFiles = 7,
  kStatusRestoringLastRecovery = 8,
  kStatusRestoreLastFailed = 9,
  kStatusRestoreLastDone = 10,
  kStatusNoPartitionBuildingRaw = 11,
  kStatusNoLostPartitionSearching = 12,
  kStatusNoRawFiles = 13,
};

// Writes the line of status `code` (0..13; any other code writes nothing) and returns the code.
int LogRecoveryStatus(int code);
void LogBuildingDirectoryTree(int partitionNumber);
void LogSearchDiskDevice(const DiskRecord& device, bool quick);
void LogSearchPartitionDevice(const VolumeRecord& device, bool quick);

// The partitions the intelligent search found, in their list's order, with the candidate
// selection's weights.
void LogSearchedPartitionList(const std::vector<CSearchedPartitionInfo*>& partitions);

// One partition found by the lost-partition search, as its table row shows it.
struct LostPartitionRow {
  int32_t fileSystemTypeCode = kFileSystemUnknown;
  int64_t startSector = 0;
  int64_t sectorCount = 0;
};
void LogLostPartitionList(const std::vector<LostPartitionRow>& partitions);

void LogRecoveredFileCount(int total, int saved, const char* folder);
void LogCaughtException(uint32_t code, const void* address);
void LogExceptionResult(bool ok);

namespace corvale {

// What the system line is made of, read from the running system.
struct SystemFacts {
  bool known = false;     // uname answered
  std::string sysname;    // "Linux"
  std::string release;    // "6.1.0-18-amd64"
  std::string machine;    // "x86_64"
  std::string osRelease;  // the text of /etc/os-release, empty when missing
};
SystemFacts ReadSystemFacts();

// The system line of the header for `facts`: "OS - name edition architecture kernel (major minor
// patch 0)", or "Unsupported operating system!" / "Unknown operating system!".
std::string FormatOsLine(const SystemFacts& facts);

// The folder of the system's own libraries (where the C library was loaded from), in place of the
// system directory.
std::string SystemLibraryFolder();

// "FAT12" ... "EXT3" for codes 0 to 5, else "UNKNOWN".
const char* FileSystemTypeText(int32_t code);

}  // namespace corvale
