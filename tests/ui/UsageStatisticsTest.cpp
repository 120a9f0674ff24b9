// The usage statistics hear of the disks each device collection finds (one summary per collection
// that found any), with or without the outside library.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "storage/DiskDevice.h"
#include "support/Fixtures.h"
#include "ui/UsageStatistics.h"

namespace {

TEST(UsageStatistics, EachDiskCollectionThatFindsDisksIsSummarised) {
  const std::string dir = corvale::test::ScratchDir();
  const std::string a = dir + "/a.img", b = dir + "/b.img";
  ASSERT_EQ(corvale::test::RunCommand("truncate -s 1M '" + a + "' '" + b + "'"), 0);
  std::vector<corvale::usage::Record> seen;
  const corvale::usage::Recorder previous =
      corvale::usage::SetRecorder([&seen](const corvale::usage::Record& r) { seen.push_back(r); });
  corvale::usage::InstallDiskSummary();
  struct Case {
    std::string disks;
    size_t summaries;
    int count;
  };
  const Case cases[] = {{a + ":" + b, 1, 2}, {dir + "/missing.img", 0, 0}};
  for (const Case& c : cases) {
    seen.clear();
    setenv("CORVALE_DISKS", c.disks.c_str(), 1);
    DiskDeviceList disks;
    CCollectPhysicalDiskDevice().CollectPhysicalDiskDevice(disks);
    unsetenv("CORVALE_DISKS");
    ASSERT_EQ(seen.size(), c.summaries) << c.disks;
    if (c.summaries == 1) {
      EXPECT_EQ(seen[0].kind, corvale::usage::Record::kDiskSummary);
      EXPECT_EQ(seen[0].eventId, c.count);
    }
  }
  SetDiskSummarySink(nullptr);
  corvale::usage::SetRecorder(previous);
}

}  // namespace
