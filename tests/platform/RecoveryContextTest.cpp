#include <gtest/gtest.h>

#include "platform/RecoveryContext.h"

TEST(RecoveryContext, FreshObjectHoldsTheDefaults) {
  CRecoveryContext c;
  EXPECT_EQ(c.UseBootRecords, 1);
  EXPECT_EQ(c.UsePartitionTables, 0);
  EXPECT_EQ(c.ExtensiveVolumeSearch, 0);
  EXPECT_EQ(c.IgnoreBadSectors, 1);
  EXPECT_EQ(c.PageFlowSwitch, 0);
  EXPECT_EQ(c.SourceMarkFlag, 0);
  EXPECT_EQ(c.SourceRootDevice, nullptr);
  EXPECT_EQ(c.LanguageId, 2);
  EXPECT_EQ(c.LanguageModule, nullptr);
  EXPECT_EQ(
      c.GetFatOptions().CheckFatDate + c.CheckFatTime + c.FatOption3 + c.UseFirstFatCopy + c.UseSecondFatCopy,
      5);
  EXPECT_EQ(c.UseNtfsFilesForVolumeSize, 1);
  EXPECT_EQ(c.UseMftFile, 1);
  EXPECT_EQ(c.ShowMftFilesOnly, 0);
  EXPECT_EQ(c.RecoverRawFiles, 1);
  EXPECT_EQ(c.RawFilesOnly, 0);
  EXPECT_EQ(c.MaxRawFileSize, 0x2FAF080);
  ASSERT_EQ(c.RawFileTypes.size(), 73u);
  for (int i = 0; i < 73; ++i) EXPECT_EQ(c.RawFileTypes[i], i + 1);
  EXPECT_EQ(c.SourceVolumeName, "");
  EXPECT_EQ(c.SourceDriveLetter, 255);
  EXPECT_EQ(c.RecoveryMode, 0);
}

TEST(RecoveryContext, ResetOptionsRestoresSwitchesButKeepsChoices) {
  CRecoveryContext c;
  int dummy;
  c.SetCommonOptions({0, 1, 1, 0});
  c.SetFatOptions({0, 0, 0, 0, 0});
  c.SetNtfsOptions({0, 0, 1});
  c.RecoverRawFiles = 0;
  c.RawFilesOnly = 1;
  c.MaxRawFileSize = 7;
  c.RawFileTypes = {3, 5};
  c.SourceRootDevice = reinterpret_cast<IStorageDevice*>(&dummy);
  c.LanguageId = 3;
  c.SourceVolumeName = "DATA";
  c.SourceDriveLetter = 'E';
  c.PageFlowSwitch = 1;
  c.SourceMarkFlag = 1;
  c.RecoveryMode = 2;

  c.ResetOptions();

  EXPECT_EQ(c.UseBootRecords, 1);
  EXPECT_EQ(c.UsePartitionTables, 0);
  EXPECT_EQ(c.ExtensiveVolumeSearch, 0);
  EXPECT_EQ(c.IgnoreBadSectors, 1);
  EXPECT_EQ(c.SourceRootDevice, nullptr);
  EXPECT_EQ(c.UseSecondFatCopy, 1);
  EXPECT_EQ(c.ShowMftFilesOnly, 0);
  EXPECT_EQ(c.UseMftFile, 1);
  EXPECT_EQ(c.RecoverRawFiles, 1);
  EXPECT_EQ(c.RawFilesOnly, 0);
  EXPECT_EQ(c.MaxRawFileSize, 50000000);
  EXPECT_EQ(c.RawFileTypes, (std::vector<int32_t>{3, 5}));
  EXPECT_EQ(c.LanguageId, 3);
  EXPECT_EQ(c.SourceVolumeName, "DATA");
  EXPECT_EQ(c.SourceDriveLetter, 'E');
  EXPECT_EQ(c.PageFlowSwitch, 1);
  EXPECT_EQ(c.SourceMarkFlag, 1);
  EXPECT_EQ(c.RecoveryMode, 2);
}

TEST(RecoveryContext, RawOptionsRecordStartsWithEveryType) {
  // The settings dialog copies the RAW record out and back; a fresh record must not empty the list.
  CRecoveryContext c;
  c.SetRawOptions(RecoveryRawOptions{});
  ASSERT_EQ(c.RawFileTypes.size(), 73u);
  EXPECT_EQ(c.RawFileTypes.front(), 1);
  EXPECT_EQ(c.RawFileTypes.back(), 73);
}
