#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemoryStateStream.h"
#include "TestProperties.h"
#include "core/FileProperties.h"
#include "core/MyFileProperties.h"
#include "core/NTFSDataRunList.h"
#include "core/StateIo.h"
#include "platform/Log.h"

using namespace corvale;

namespace {

MyFileInfo FullInfo() {
  MyFileInfo info;
  info.name = "Deleted Files";
  info.size = 0x123456789ull;
  info.attributes = kAttributeFolder | 0x02;
  info.text = "made up";
  info.creationTime = 132000000000000000ull;
  info.time2 = 132000000000000001ull;
  info.time3 = 132000000000000002ull;
  info.typeWord = 0xBEEF;
  info.checkState = kChecked;
  info.flag = 9;
  info.validMask = 0x3F;
  return info;
}

std::vector<uint8_t> SavedRecord(const IFileProperties* p) {
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  SavePropertiesRecord(s, p);
  s.EndSection();
  return s.Section(TestSection(1));
}

std::unique_ptr<IFileProperties> LoadRecord(const std::vector<uint8_t>& bytes) {
  MemoryStateStream s;
  s.Section(TestSection(1)) = bytes;
  s.StartReading();
  s.BeginSection(TestSection(1));
  return LoadPropertiesRecord(s);
}

int32_t CodeOfLoading(const std::vector<uint8_t>& bytes) {
  try {
    LoadRecord(bytes);
  } catch (IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

}  // namespace

TEST(FilePropertiesFactory, EnginesRegisterTheirCodesAndCoreKeepsItsOwn) {
  for (int32_t code = kPropertiesNtfs; code <= kPropertiesRaw; ++code)
    EXPECT_EQ(CreateFileProperties(code), nullptr);
  std::unique_ptr<IFileProperties> mine(CreateFileProperties(kPropertiesInMemory));
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->GetPersistenceCode(), kPropertiesInMemory);
  EXPECT_FALSE(RegisterFilePropertiesFactory(kPropertiesInMemory, nullptr));
  EXPECT_FALSE(RegisterFilePropertiesFactory(5, nullptr));
  EXPECT_FALSE(RegisterFilePropertiesFactory(-1, nullptr));
  EXPECT_EQ(CreateFileProperties(5), nullptr);
  EXPECT_EQ(CreateFileProperties(-7), nullptr);
  {
    TestPropertiesScope scope;
    std::unique_ptr<IFileProperties> fat(CreateFileProperties(kPropertiesFat));
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->GetPersistenceCode(), kPropertiesFat);
  }
  EXPECT_EQ(CreateFileProperties(kPropertiesFat), nullptr);
}

TEST(MyFileProperties, KeepsItsRecordAndCutsLongNames) {
  CMyFileProperties p(FullInfo());
  EXPECT_STREQ(p.GetName(), "Deleted Files");
  EXPECT_EQ(p.GetNameLength(), 13);
  EXPECT_EQ(p.GetExtraText(), "made up");
  EXPECT_EQ(p.CreateDataRunList(), nullptr);
  EXPECT_EQ(p.SetFlagByte(4), 9);
  EXPECT_EQ(p.GetFlagByte(), 4);
  MyFileInfo out;
  p.CopyTo(out);
  EXPECT_EQ(out.typeWord, 0xBEEF);
  EXPECT_EQ(out.flag, 4);

  p.SetName(std::string(300, 'x').c_str());
  EXPECT_EQ(std::string(p.GetName()), std::string(259, 'x'));
  // A cut never splits a character: 258 ASCII bytes and a two-byte character leave 258.
  p.SetName((std::string(258, 'a') + "\xC3\xA9").c_str());
  EXPECT_EQ(p.GetNameLength(), 258);
}

TEST(MyFileProperties, RoundTripsThroughItsRecordWithCheckStateCleared) {
  const CMyFileProperties original(FullInfo());
  const auto bytes = SavedRecord(&original);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], kPropertiesInMemory);
  auto back = LoadRecord(bytes);
  ASSERT_NE(back, nullptr);
  MyFileInfo expected = FullInfo();
  expected.checkState = 0;
  expected.flag = 0;
  MyFileInfo got;
  static_cast<CMyFileProperties&>(*back).CopyTo(got);
  EXPECT_EQ(got.name, expected.name);
  EXPECT_EQ(got.size, expected.size);
  EXPECT_EQ(got.attributes, expected.attributes);
  EXPECT_EQ(got.text, expected.text);
  EXPECT_EQ(got.creationTime, expected.creationTime);
  EXPECT_EQ(got.time2, expected.time2);
  EXPECT_EQ(got.time3, expected.time3);
  EXPECT_EQ(got.typeWord, expected.typeWord);
  EXPECT_EQ(got.validMask, expected.validMask);
  EXPECT_EQ(got.checkState, 0);
  EXPECT_EQ(got.flag, 0);
}

TEST(PropertiesRecord, AbsentPropertiesRoundTripAsNull) {
  const auto bytes = SavedRecord(nullptr);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(LoadRecord(bytes), nullptr);
}

TEST(PropertiesRecord, EngineRecordKeepsItsRuns) {
  TestPropertiesScope scope;
  CResidentNTFSDataRunList runs;
  runs.SetRun(777, 1, 0x50);
  const TestFileProperties original("a.txt", 700, 0x20, CreatePackedRunList(runs));
  auto back = LoadRecord(SavedRecord(&original));
  ASSERT_NE(back, nullptr);
  auto list = back->CreateDataRunList();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->IsResident());
  EXPECT_EQ(list->GetResidentValue(), 0x50u);
  EXPECT_EQ(*list->GetFirst(), (DataRun{777, 1}));
}

// A code with no implementation cannot be skipped (its length is unknown), so it is bad data and
// logged like every stream error; so is a name longer than the record allows.
TEST(PropertiesRecord, UnknownCodesAndOverlongNamesAreBadData) {
  log::ScopedCapture capture;
  EXPECT_EQ(CodeOfLoading({9, 0, 0, 0}), RS_ERROR_BAD_DATA);
  EXPECT_TRUE(capture.Has("RS Exception:2\n"));
  EXPECT_EQ(CodeOfLoading({kPropertiesNtfs, 0, 0, 0}), RS_ERROR_BAD_DATA);  // no NTFS engine registered here

  std::vector<uint8_t> overlong = {kPropertiesInMemory, 0, 0, 0, 4, 1, 0, 0};  // name length 260
  overlong.resize(overlong.size() + 400, 'a');
  EXPECT_EQ(CodeOfLoading(overlong), RS_ERROR_BAD_DATA);
  std::vector<uint8_t> forged = {kPropertiesInMemory, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(CodeOfLoading(forged), RS_ERROR_BAD_DATA);
}

TEST(PropertiesRecord, EveryCutOfARecordEndsInShortRead) {
  TestPropertiesScope scope;
  const CMyFileProperties mine(FullInfo());
  CResidentNTFSDataRunList runs;
  runs.SetRun(5, 1, 0x40);
  const TestFileProperties engine("b.bin", 1, 0, CreatePackedRunList(runs));
  for (const IFileProperties* p :
       {static_cast<const IFileProperties*>(&mine), static_cast<const IFileProperties*>(&engine)}) {
    const auto bytes = SavedRecord(p);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      EXPECT_EQ(CodeOfLoading(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut)), RS_ERROR_SHORT_READ)
          << cut;
    }
    EXPECT_EQ(CodeOfLoading(bytes), 0);
  }
}
