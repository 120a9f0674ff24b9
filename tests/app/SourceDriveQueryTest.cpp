// The program's answer to "is this target on the source?", as installed at start-up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/SourceDriveQuery.h"
#include "core/FileRecoverer.h"
#include "platform/RecoveryContext.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"

namespace {

// Leaves the recovery context and the question as they were.
struct QueryInstalled {
  QueryInstalled() { InstallSourceDriveQuery(); }
  ~QueryInstalled() {
    GetRecoveryContext().SourceRootDevice = nullptr;
    CFileRecoverer::SetSourceDeviceQuery({});
    CFileRecoverer::SetDeviceNumbersQuery({});
  }
};

}  // namespace

TEST(SourceDriveQuery, TargetBesideTheSourceImageIsRefusedAndOneElsewhereIsNot) {
  std::string dir = corvale::test::ScratchDir();
  std::string image = dir + "/source.img";
  { std::ofstream(image) << std::string(64 * 1024, '\0'); }
  CImageFileDevice device(image);
  QueryInstalled installed;
  GetRecoveryContext().SourceRootDevice = &device;
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive((dir + "/recovered").c_str()));
  EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive("/proc/self")) << "another file system";
}

TEST(SourceDriveQuery, WithoutAKnownSourceEveryTargetIsRefused) {
  std::string dir = corvale::test::ScratchDir();
  QueryInstalled installed;
  GetRecoveryContext().SourceRootDevice = nullptr;
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive(dir.c_str()));
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive("/proc/self"));
  CImageFileDevice gone(dir + "/missing.img");
  GetRecoveryContext().SourceRootDevice = &gone;
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive(dir.c_str())) << "a source that cannot be examined";
}
