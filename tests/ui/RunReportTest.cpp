#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/SearchedPartitionInfo.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "ui/AppInfo.h"
#include "ui/RunReport.h"

using corvale::log::Channel;
using corvale::log::ScopedCapture;

namespace {

// True when `text` is `prefix`, a number, " MB", `middle`, a number and " MB".
bool IsMemoryLine(const std::string& text, const std::string& prefix, const std::string& middle,
                  long long leastTotal) {
  if (text.rfind(prefix, 0) != 0) return false;
  long long first = -1;
  long long second = -1;
  int used = 0;
  std::string format = "%lld MB" + middle + "%lld MB%n";
  if (std::sscanf(text.c_str() + prefix.size(), format.c_str(), &first, &second, &used) != 2) return false;
  return first >= leastTotal && second >= 0 && prefix.size() + static_cast<size_t>(used) == text.size();
}

std::vector<std::string> InfoLines(const ScopedCapture& capture) {
  std::vector<std::string> lines;
  for (const auto& line : capture.Lines())
    if (line.channel == Channel::Info) lines.push_back(line.text);
  return lines;
}

}  // namespace

TEST(RunReportSteps, EachRecoveryStatusHasItsLine) {
  const std::vector<std::string> expected = {
      "\r\nPerforming Deleted File Recovery...",
      "\r\nPerforming Complete File Recovery...",
      "\r\nPerforming Partition Recovery...",
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
  for (int code = 0; code < static_cast<int>(expected.size()); ++code) {
    ScopedCapture capture;
    EXPECT_EQ(LogRecoveryStatus(code), code);
    EXPECT_EQ(InfoLines(capture), std::vector<std::string>{expected[static_cast<size_t>(code)]}) << code;
  }
  for (int code : {14, -1, 1000}) {
    ScopedCapture capture;
    EXPECT_EQ(LogRecoveryStatus(code), code);
    EXPECT_TRUE(capture.Lines().empty()) << code;
  }
}

TEST(RunReportSteps, SearchedDeviceLines) {
  DiskRecord disk;
  disk.DisplayText = "ATA  ST1000DM003  CC45";
  DiskRecord usb = disk;
  usb.IsUsb = 1;
  usb.DisplayText = "SanDisk  Cruzer";
  DiskRecord image;
  image.Kind = kSourceKindImage;
  image.DisplayText = "PhysicalDrive0";
  image.ImagePath = "/srv/images/disk0.kbi";

  VolumeRecord ntfs;
  ntfs.DriveLetter = 'D';
  ntfs.VolumeName = "Data";
  ntfs.FileSystemTypeCode = kFileSystemNtfs;
  VolumeRecord noLetter;
  noLetter.DriveLetter = 0;
  noLetter.VolumeName = "Backup";
  noLetter.FileSystemTypeCode = kFileSystemExt3;
  VolumeRecord lowerLetter = ntfs;
  lowerLetter.DriveLetter = 'e';
  lowerLetter.FileSystemTypeCode = 9;
  VolumeRecord volumeImage;
  volumeImage.Kind = kSourceKindImage;
  volumeImage.DisplayName = "D:";
  volumeImage.ImagePath = "/srv/images/d.kbi";

  ScopedCapture capture;
  LogSearchDiskDevice(disk, false);
  LogSearchDiskDevice(usb, true);
  LogSearchDiskDevice(image, false);
  LogSearchPartitionDevice(ntfs, true);
  LogSearchPartitionDevice(noLetter, false);
  LogSearchPartitionDevice(lowerLetter, false);
  LogSearchPartitionDevice(volumeImage, true);
  LogBuildingDirectoryTree(2);
  EXPECT_EQ(InfoLines(capture),
            (std::vector<std::string>{
                "Intelligent searching disk device - ATA  ST1000DM003  CC45",
                "Quick searching usb disk device - SanDisk  Cruzer",
                "Intelligent searching image file - PhysicalDrive0 at /srv/images/disk0.kbi",
                "Quick searching partition device - D:Data(NTFS)",
                "Intelligent searching partition device - *:Backup(EXT3)",
                "Intelligent searching partition device - *:Data(UNKNOWN)",
                "Quick searching image file device - D: at /srv/images/d.kbi",
                "Building directory tree on partition 2",
            }));
}

TEST(RunReportSteps, SearchedPartitionTable) {
  {
    ScopedCapture capture;
    LogSearchedPartitionList({});
    EXPECT_EQ(InfoLines(capture), std::vector<std::string>{"Did not find any possible partition."});
  }
  CSearchedPartitionInfo ntfs(512);
  ntfs.SetFileSystemType(kFileSystemNtfs);
  ntfs.SetWeight(0.75);
  ntfs.SetFilesMatch(120);
  ntfs.SetFoldersMatch(14);
  ntfs.SetPartitionStart(2048);
  ntfs.SetStartSector(2048);
  ntfs.SetSectorsPerCluster(8);
  ntfs.SetSectorCount(204800);
  CSearchedPartitionInfo odd(4096);
  odd.SetFileSystemType(9);
  odd.SetWeight(1234.5);
  odd.SetPartitionStart(63);
  odd.SetStartSector(95);
  odd.SetSectorsPerCluster(64);
  odd.SetSectorCount(1000000000000LL);
  ScopedCapture capture;
  LogSearchedPartitionList({&ntfs, &odd});
  const std::string rule(96, '-');
  EXPECT_EQ(
      InfoLines(capture),
      (std::vector<std::string>{
          "Searched partition list:",
          rule,
          " NO.       FS  Suggestion  MFiles  MFolders     StartSect    DtAreaSect  ClstSize     TotalSect",
          "   0     NTFS        0.75     120        14          2048          2048         8  204800",
          "   1  UNKNOWN     1234.50       0         0            63            95        64  1000000000000",
          rule,
      }));
}

TEST(RunReportSteps, LostPartitionTable) {
  {
    ScopedCapture capture;
    LogLostPartitionList({});
    EXPECT_EQ(InfoLines(capture), std::vector<std::string>{"Did not find any lost partition."});
  }
  ScopedCapture capture;
  LogLostPartitionList({{kFileSystemFat32, 63, 1024000}, {kFileSystemRaw, 8, 16}});
  const std::string rule(45, '-');
  EXPECT_EQ(InfoLines(capture), (std::vector<std::string>{
                                    "Lost partition list:",
                                    rule,
                                    " NO.       FS     StartSect     TotalSect",
                                    "   0    FAT32            63       1024000",
                                    "   1      RAW             8            16",
                                    rule,
                                }));
}

TEST(RunReportSteps, OutcomeAndExceptionLines) {
  ScopedCapture capture;
  LogRecoveredFileCount(12, 10, "/home/ann/recovered");
  LogCaughtException(0xE0000001u, reinterpret_cast<const void*>(uintptr_t{0x7f12345678ab}));
  LogCaughtException(0xC0000005u, reinterpret_cast<const void*>(uintptr_t{0x1000}));
  LogExceptionResult(true);
  LogExceptionResult(false);
  EXPECT_EQ(InfoLines(capture), (std::vector<std::string>{
                                    "12 File are to be recovered, recovered 10",
                                    "Files are saved in /home/ann/recovered",
                                    "Caught an excetpion! Exception Code:e0000001 Address:7f12345678ab",
                                    "Caught an excetpion! Exception Code:c0000005 Address:00001000",
                                    "Succeeded process the exception!",
                                    "Failed to process the exception!",
                                }));
}

TEST(RunReportHeader, LinesInTheirFormats) {
  ScopedCapture capture;
  LogBanner();
  LogDateGenerated();
  LogMemoryStatus();
  LogOsDirectory();
  LogModuleDirectory();
  std::vector<std::string> lines = InfoLines(capture);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], GetProductTitle() + " 1.1.1.8 20150212");
  int month = 0, day = 0, year = 0, hour = -1, minute = -1, second = -1, used = 0;
  ASSERT_EQ(std::sscanf(lines[1].c_str(), "Date Generated: %2d/%2d/%4d %2d:%2d:%2d\r\n%n", &month, &day,
                        &year, &hour, &minute, &second, &used),
            6)
      << lines[1];
  EXPECT_EQ(lines[1].size(), std::string("Date Generated: 01/02/2026 03:04:05\r\n").size())
      << "two-digit fields";
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "\r\n");
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 2024);
  EXPECT_EQ(lines[2], "Memory status:");
  EXPECT_TRUE(IsMemoryLine(lines[3], "Total physical memory:", "\tAvailable physical memory:", 1))
      << lines[3];
  EXPECT_TRUE(IsMemoryLine(lines[4], "Total   page    files:", "\tAvailable    page   files:", 0))
      << lines[4];
  ASSERT_EQ(lines[5].rfind("OS Directory - /", 0), 0u) << lines[5];
  struct stat st {};
  EXPECT_EQ(stat(lines[5].substr(15).c_str(), &st), 0) << "the system library folder exists";
  EXPECT_EQ(lines[6], "Module Directory - " + platform::ExecutableDirectory());
  EXPECT_EQ(lines[6].back(), '/');
}

TEST(RunReportHeader, SystemLineDescribesLinux) {
  const std::string debian =
      "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
  struct Case {
    const char* name;
    corvale::SystemFacts facts;
    std::string line;
  };
  const Case cases[] = {
      {"debian",
       {true, "Linux", "6.1.0-18-amd64", "x86_64", debian},
       "OS - Debian GNU/Linux 12 (bookworm)  64-bit Linux 6.1.0-18-amd64 (6 1 0 0)"},
      {"edition and 32-bit",
       {true, "Linux", "5.10.7", "i686", "NAME=Fedora\nVARIANT=\"Server Edition\"\n"},
       "OS - Fedora Server Edition 32-bit Linux 5.10.7 (5 10 7 0)"},
      {"no os-release", {true, "Linux", "6.8", "riscv64", ""}, "OS - Linux  64-bit Linux 6.8 (6 8 0 0)"},
      {"odd machine", {true, "Linux", "4.19.0", "mystery", ""}, "OS - Linux   Linux 4.19.0 (4 19 0 0)"},
      {"not Linux", {true, "FreeBSD", "14.0-RELEASE", "amd64", ""}, "Unsupported operating system!"},
      {"uname failed", {false, "", "", "", ""}, "Unsupported operating system!"},
      {"unreadable release", {true, "Linux", "weird", "x86_64", debian}, "Unknown operating system!"},
  };
  for (const Case& c : cases) EXPECT_EQ(corvale::FormatOsLine(c.facts), c.line) << c.name;

  ScopedCapture capture;
  LogOsVersion();
  std::vector<std::string> lines = InfoLines(capture);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("OS - ", 0), 0u) << lines[0];
}

TEST(AppInfo, VersionAndModuleFolder) {
  EXPECT_STREQ(GetVersionString(), "1.1.1.8");
  EXPECT_EQ(GetVersionString(), GetVersionString()) << "built once and kept";
  char buffer[4096];
  ASSERT_EQ(GetModuleDirectory(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), platform::ExecutableDirectory());
  EXPECT_EQ(GetModuleDirectory(nullptr, 10), 0);
  EXPECT_EQ(GetModuleDirectory(buffer, 0), 0);
  EXPECT_EQ(GetModuleDirectory(buffer, -5), 0);
  EXPECT_EQ(GetModuleDirectory(buffer, 3), 0) << "a folder that does not fit";
}
