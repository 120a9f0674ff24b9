#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FatEntryBuilder.h"
#include "FatTestSupport.h"
#include "core/FileProperties.h"
#include "core/RSDataEx.h"
#include "core/StateIo.h"
#include "fat/FATDataRunList.h"
#include "fat/FATFileProperties.h"
#include "platform/Log.h"
#include "support/Fixtures.h"

using namespace corvale;
using namespace fattest;

namespace {

const RSGuid kSection = RSGuid::FromString("{6F2C1A40-1E5B-4C7D-9A3E-5B8D2F4C6E10}");

std::string Describe(const IFileProperties& p) {
  std::string text = std::string(p.GetName()) + "|" + std::to_string(p.GetNameLength()) + "|" +
                     std::to_string(p.GetSize()) + "|" + std::to_string(p.GetAttributes()) + "|" +
                     std::to_string(p.GetCreationTime()) + "|" + std::to_string(p.GetTime2()) + "|" +
                     std::to_string(p.GetTime3()) + "|" + std::to_string(p.GetTypeWord()) + "|" +
                     std::to_string(p.GetCheckState()) + "|" + std::to_string(p.GetFlagByte()) + "|" +
                     std::to_string(p.GetPersistenceCode()) + "|" + std::to_string(p.GetValidMask());
  const auto& fat = dynamic_cast<const CFATFileProperties&>(p);
  text += "|" + std::to_string(fat.GetFirstCluster()) + "|" + std::to_string(fat.GetParentCluster());
  if (auto runs = p.CreateDataRunList()) {
    for (const DataRun& r : runs->Runs())
      text += "|" + std::to_string(r.start) + "+" + std::to_string(r.length);
  }
  return text;
}

void WriteHeader(CRSDataEx& writer) {
  uint8_t header[132] = {};
  std::memcpy(header, kRSMarker.bytes.data(), 16);
  writer.WriteHeader(header);
}

class RegisteredFatProperties : public ::testing::Test {
 protected:
  void SetUp() override { RegisterFATFileProperties(); }
  void TearDown() override { RegisterFilePropertiesFactory(kPropertiesFat, nullptr); }
};

}  // namespace

TEST_F(RegisteredFatProperties, RoundTripThroughAStateFile) {
  ASSERT_NE(std::unique_ptr<IFileProperties>(CreateFileProperties(kPropertiesFat)), nullptr);
  std::vector<std::unique_ptr<CFATFileProperties>> saved;
  // Files of a real volume, with their run lists.
  {
    FAT_IMAGE(image, FatImages()[4]);
    FATRunListContext context;
    context.fat = image.fat.get();
    context.sectorsPerCluster = image.geometry.sectorsPerCluster;
    context.sectorSize = image.geometry.bytesPerSector;
    context.dataSectors = image.geometry.totalSectors - image.geometry.dataStart;
    for (const char* name : {"D.bin", "A.bin"}) {
      auto p = FindEntry(image, "frag", name, false);
      ASSERT_NE(p, nullptr);
      std::unique_ptr<CFATDataRunList> runs;
      ASSERT_EQ(BuildFATRunList(context, p->GetFirstCluster(), p->GetSize(), false, &runs),
                FATRunListResult::Built);
      p->SetPackedRunList(CreatePackedRunList(*runs));
      p->SetParentCluster(12345);
      saved.push_back(std::move(p));
    }
    saved.push_back(FindEntry(image, "", "Ünïcødé 名前.txt", false));
    saved.push_back(FindEntry(image, "", "Old Folder", true));
  }
  auto madeUp = std::make_unique<CFATFileProperties>();
  madeUp->SetName("Lost Folders");
  madeUp->SetAttributes(0x10);
  madeUp->SetState(CFATFileProperties::kStateMadeUpFolder);
  madeUp->SetFirstCluster(CFATFileProperties::kNoCluster);
  saved.push_back(std::move(madeUp));
  auto longest = std::make_unique<CFATFileProperties>();
  longest->SetName(std::string(CFATFileProperties::kMaxNameLength, 'n').c_str());
  longest->SetTimes(~uint64_t{0}, 1, 0);
  longest->SetSize(~uint64_t{0});
  saved.push_back(std::move(longest));
  saved.push_back(std::make_unique<CFATFileProperties>());
  for (auto& p : saved) {
    ASSERT_NE(p, nullptr);
    p->SetCheckState(kChecked);
    p->SetFlagByte(7);
  }

  const std::string path = corvale::test::ScratchDir() + "/cstemp.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    WriteHeader(writer);
    ASSERT_TRUE(writer.BeginSection(kSection));
    for (const auto& p : saved) SavePropertiesRecord(writer, p.get());
    writer.EndSection();
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.IsValidFile());
  ASSERT_TRUE(reader.BeginSection(kSection));
  for (auto& p : saved) {
    auto back = LoadPropertiesRecord(reader);
    ASSERT_NE(back, nullptr);
    // The check state and the flag are the user's marks in one run and are not kept.
    p->SetCheckState(0);
    p->SetFlagByte(0);
    EXPECT_EQ(Describe(*back), Describe(*p));
    EXPECT_EQ(back->GetExtraText(), "");
  }
  uint8_t extra;
  EXPECT_EQ(reader.Read(&extra, 1), 0u);
  reader.EndSection();
  reader.Close();
}

TEST_F(RegisteredFatProperties, RecordsNoWriterMakesAreBadData) {
  const std::string path = corvale::test::ScratchDir() + "/bad.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    WriteHeader(writer);
    ASSERT_TRUE(writer.BeginSection(kSection));
    WriteI32(writer, kPropertiesFat);
    WriteU16(writer, CFATFileProperties::kMaxNameLength + 1);  // a name longer than any kept
    WriteU16(writer, 0);
    std::string name(CFATFileProperties::kMaxNameLength + 1, 'x');
    writer.Write(name.data(), name.size());
    writer.EndSection();
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.BeginSection(kSection));
  log::ScopedCapture capture;
  try {
    LoadPropertiesRecord(reader);
    ADD_FAILURE() << "no exception";
  } catch (IRSException& e) {
    EXPECT_EQ(e.GetCode(), RS_ERROR_BAD_DATA);
  }
  reader.Close();
}

TEST(FatFileProperties, FieldsAsTheTreeSeesThem) {
  CFATFileProperties p;
  EXPECT_EQ(p.GetPersistenceCode(), kPropertiesFat);
  EXPECT_EQ(p.GetParentCluster(), CFATFileProperties::kNoCluster);
  EXPECT_EQ(p.GetValidMask(), 255u);
  EXPECT_EQ(p.CreateDataRunList(), nullptr);
  p.SetState(CFATFileProperties::kStateMadeUpFolder);
  EXPECT_EQ(p.GetTypeWord(), 9);
  EXPECT_TRUE(p.IsDeleted());
  EXPECT_EQ(p.SetFlagByte(3), 0);
  EXPECT_EQ(p.SetFlagByte(4), 3);
  // Names are cut, never in the middle of a character.
  p.SetName((std::string(CFATFileProperties::kMaxNameLength - 1, 'a') + "\xC3\xA9").c_str());
  EXPECT_EQ(p.GetNameLength(), CFATFileProperties::kMaxNameLength - 1);
  p.SetName(nullptr);
  EXPECT_STREQ(p.GetName(), "");
  CFATDataRunList runs;
  runs.AddRun(100, 4);
  runs.AddRun(300, 2);
  p.SetPackedRunList(CreatePackedRunList(runs));
  auto expanded = p.CreateDataRunList();
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(std::vector<DataRun>(expanded->Runs().begin(), expanded->Runs().end()),
            (std::vector<DataRun>{{100, 4}, {300, 2}}));
}
