#include "ui/RunReport.h"

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <sys/utsname.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "core/SearchedPartitionInfo.h"
#include "platform/Allocation.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"

namespace corvale {
namespace {

constexpr uint64_t kMiB = 1048576;

// The file-system names of the partition tables, right-aligned in seven characters.
const char* TableFileSystemName(int32_t code) {
  switch (code) {
    case kFileSystemFat12:
      return "  FAT12";
    case kFileSystemFat16:
      return "  FAT16";
    case kFileSystemFat32:
      return "  FAT32";
    case kFileSystemNtfs:
      return "   NTFS";
    case kFileSystemExt2:
      return "   EXT2";
    case kFileSystemExt3:
      return "   EXT3";
    case kFileSystemRaw:
      return "    RAW";
    default:
      return "UNKNOWN";
  }
}

const char* SearchPrefix(bool quick) { return quick ? "Quick searching" : "Intelligent searching"; }

std::string ReadFile(const char* path) {
  std::ifstream in(path);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of KEY=value in an os-release text, without its quotes.
std::string OsReleaseValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

std::string Architecture(const std::string& machine) {
  if (machine.find("64") != std::string::npos || machine == "s390x") return "64-bit";
  if ((machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) ||
      machine.compare(0, 3, "arm") == 0)
    return "32-bit";
  return "";
}

}  // namespace

const char* FileSystemTypeText(int32_t code) {
  switch (code) {
    case kFileSystemFat12:
      return "FAT12";
    case kFileSystemFat16:
      return "FAT16";
    case kFileSystemFat32:
      return "FAT32";
    case kFileSystemNtfs:
      return "NTFS";
    case kFileSystemExt2:
      return "EXT2";
    case kFileSystemExt3:
      return "EXT3";
    default:
      return "UNKNOWN";
  }
}

SystemFacts ReadSystemFacts() {
  SystemFacts facts;
  struct utsname names {};
  if (uname(&names) == 0) {
    facts.known = true;
    facts.sysname = names.sysname;
    facts.release = names.release;
    facts.machine = names.machine;
  }
  facts.osRelease = ReadFile("/etc/os-release");
  if (facts.osRelease.empty()) facts.osRelease = ReadFile("/usr/lib/os-release");
  return facts;
}

// The line keeps the shape of the system line the log has always had: name, edition, architecture,
// the level of the installed system, then four numbers. Here the name and edition come from the
// distribution (PRETTY_NAME, VARIANT), the level is the kernel, and the numbers are the kernel's
// major, minor and patch numbers and 0, as Linux knows no suite mask.
std::string FormatOsLine(const SystemFacts& facts) {
  if (!facts.known || facts.sysname != "Linux") return "Unsupported operating system!";
  int major = 0;
  int minor = 0;
  int patch = 0;
  int fields = std::sscanf(facts.release.c_str(), "%d.%d.%d", &major, &minor, &patch);
  if (fields < 2) return "Unknown operating system!";
  std::string name = OsReleaseValue(facts.osRelease, "PRETTY_NAME");
  if (name.empty()) name = OsReleaseValue(facts.osRelease, "NAME");
  if (name.empty()) name = "Linux";
  std::string edition = OsReleaseValue(facts.osRelease, "VARIANT");
  std::string kernel = facts.sysname + " " + facts.release;
  char line[1024];
  std::snprintf(line, sizeof line, "OS - %s %s %s %s (%d %d %d %d)", name.c_str(), edition.c_str(),
                Architecture(facts.machine).c_str(), kernel.c_str(), major, minor, fields >= 3 ? patch : 0,
                0);
  return line;
}

std::string SystemLibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&gnu_get_libc_version), &info) && info.dli_fname) {
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) return path.substr(0, slash);
  }
  return "/usr/lib";
}

}  // namespace corvale

void LogBanner() { LogInfo("%s %s %s", GetProductTitle().c_str(), GetVersionString(), GetBuildDateString()); }

void LogDateGenerated() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  LogInfo("Date Generated: %02d/%02d/%d %02d:%02d:%02d\r\n", local.tm_mon + 1, local.tm_mday,
          local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

void LogMemoryStatus() {
  platform::MemoryStatus status;
  if (!platform::QueryMemoryStatus(&status)) {
    LogInfo("Failed to query memory status.");
    status = platform::MemoryStatus{};
  }
  LogInfo("Memory status:");
  LogInfo("Total physical memory:%4" PRId64 " MB\tAvailable physical memory:%4" PRId64 " MB",
          static_cast<int64_t>(status.totalPhysical / corvale::kMiB),
          static_cast<int64_t>(status.availablePhysical / corvale::kMiB));
  LogInfo("Total   page    files:%4" PRId64 " MB\tAvailable    page   files:%4" PRId64 " MB",
          static_cast<int64_t>(status.totalPageFiles / corvale::kMiB),
          static_cast<int64_t>(status.availablePageFiles / corvale::kMiB));
}

void LogOsVersion() { LogInfo("%s", corvale::FormatOsLine(corvale::ReadSystemFacts()).c_str()); }

void LogOsDirectory() { LogInfo("OS Directory - %s", corvale::SystemLibraryFolder().c_str()); }

void LogModuleDirectory() {
  char folder[4096];
  if (!GetModuleDirectory(folder, sizeof folder)) folder[0] = '\0';
  LogInfo("Module Directory - %s", folder);
}

int LogRecoveryStatus(int code) {
  static const char* const kLines[] = {
      "Performing Deleted File Recovery...",
      "Performing Complete File Recovery...",
      "Performing Partition Recovery...",
      "User abort.",
      "Found nothing.",
      "Completely search the selected device.",
      "Displaying directory tree.",
      "Restoring files...",
      "Restoring last recovery...",
      "Failed to restore last recovery.",
      "Completely restore last recovery.",
      "Did not find any possible partition. Building RAW file tree.",
      "Did not find any lost partition. Performing intelligent search.",
      "Did not find any RAWfiles",
  };
  if (code < 0 || code >= static_cast<int>(sizeof kLines / sizeof kLines[0])) return code;
  // The three modes open a new part of the report, so an empty line goes before them.
  LogInfo(code <= kStatusPartitionRecovery ? "\r\n%s" : "%s", kLines[code]);
  return code;
}

void LogBuildingDirectoryTree(int partitionNumber) {
  LogInfo("Building directory tree on partition %d", partitionNumber);
}

void LogSearchDiskDevice(const DiskRecord& device, bool quick) {
  const char* prefix = corvale::SearchPrefix(quick);
  if (device.Kind == kSourceKindImage)
    LogInfo("%s image file - %s at %s", prefix, device.DisplayText.c_str(), device.ImagePath.c_str());
  else if (device.IsUsb)
    LogInfo("%s usb disk device - %s", prefix, device.DisplayText.c_str());
  else
    LogInfo("%s disk device - %s", prefix, device.DisplayText.c_str());
}

void LogSearchPartitionDevice(const VolumeRecord& device, bool quick) {
  const char* prefix = corvale::SearchPrefix(quick);
  if (device.Kind == kSourceKindImage) {
    LogInfo("%s image file device - %s at %s", prefix, device.DisplayName.c_str(), device.ImagePath.c_str());
    return;
  }
  char letter = device.DriveLetter >= 'A' && device.DriveLetter <= 'Z' ? device.DriveLetter : '*';
  LogInfo("%s partition device - %c:%s(%s)", prefix, letter, device.VolumeName.c_str(),
          corvale::FileSystemTypeText(device.FileSystemTypeCode));
}

void LogSearchedPartitionList(const std::vector<CSearchedPartitionInfo*>& partitions) {
  if (partitions.empty()) {
    LogInfo("Did not find any possible partition.");
    return;
  }
  const std::string rule(96, '-');
  LogInfo("Searched partition list:");
  LogInfo("%s", rule.c_str());
  LogInfo(" NO.       FS  Suggestion  MFiles  MFolders     StartSect    DtAreaSect  ClstSize     TotalSect");
  int number = 0;
  for (const CSearchedPartitionInfo* p : partitions) {
    if (!p) continue;
    char weight[64];
    std::snprintf(weight, sizeof weight, "%10.2f", p->GetWeight());
    LogInfo("%4d  %s  %s  %6" PRId64 "  %8" PRId64 "  %12" PRId64 "  %12" PRId64 "  %8d  %" PRId64, number++,
            corvale::TableFileSystemName(p->GetFileSystemType()), weight, p->GetFilesMatch(),
            p->GetFoldersMatch(), p->GetPartitionStart(), p->GetStartSector(),
            static_cast<int>(p->GetSectorsPerCluster()), p->GetSectorCount());
  }
  LogInfo("%s", rule.c_str());
}

void LogLostPartitionList(const std::vector<LostPartitionRow>& partitions) {
  if (partitions.empty()) {
    LogInfo("Did not find any lost partition.");
    return;
  }
  const std::string rule(45, '-');
  LogInfo("Lost partition list:");
  LogInfo("%s", rule.c_str());
  LogInfo(" NO.       FS     StartSect     TotalSect");
  int number = 0;
  for (const LostPartitionRow& p : partitions)
    LogInfo("%4d  %s  %12" PRId64 "  %12" PRId64, number++,
            corvale::TableFileSystemName(p.fileSystemTypeCode), p.startSector, p.sectorCount);
  LogInfo("%s", rule.c_str());
}

void LogRecoveredFileCount(int total, int saved, const char* folder) {
  LogInfo("%d File are to be recovered, recovered %d", total, saved);
  LogInfo("Files are saved in %s", folder ? folder : "");
}

void LogCaughtException(uint32_t code, const void* address) {
  // The address is printed whole: eight digits would cut a 64-bit address in half.
  LogInfo("Caught an excetpion! Exception Code:%08x Address:%08" PRIxPTR, code,
          reinterpret_cast<uintptr_t>(address));
}

void LogExceptionResult(bool ok) {
  LogInfo(ok ? "Succeeded process the exception!" : "Failed to process the exception!");
}
