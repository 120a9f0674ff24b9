#include <gtest/gtest.h>

#include "raw/RawFileInfoList.h"

namespace {

CRawFileInfo* File(uint64_t start, uint64_t size) {
  auto* f = new CRawFileInfo;
  f->SetStartSector(start);
  f->SetFileSize(size);
  return f;
}

TEST(RawFileInfo, FreshRecordHasNoAnalyser) {
  CRawFileInfo f;
  EXPECT_EQ(f.GetStartSector(), 0u);
  EXPECT_EQ(f.GetFileSize(), 0u);
  EXPECT_EQ(f.GetAnalyserTypeId(), 0xFFFF);
  EXPECT_EQ(f.GetAnalyser(), nullptr);
  EXPECT_EQ(f.GetFirstInfoText(), "");
}

TEST(RawFileInfoList, KeepsEveryRecordInOrderAndTheFirstOfEachStartSector) {
  CRawFileInfoList list;
  CRawFileInfo* a = File(100, 1);
  CRawFileInfo* b = File(50, 2);
  CRawFileInfo* again = File(100, 3);
  list.Add(a);
  list.Add(b);
  list.Add(again);
  list.Add(nullptr);
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.FindByStartSector(100), a);
  EXPECT_EQ(list.FindByStartSector(50), b);
  EXPECT_EQ(list.FindByStartSector(7), nullptr);

  std::vector<CRawFileInfo*> walked;
  IIterator<CRawFileInfo*>* it = list.GetIterator();
  for (it->First(); !it->IsEnd(); it->Next()) walked.push_back(it->Current());
  EXPECT_EQ(walked, (std::vector<CRawFileInfo*>{a, b, again}));
  it->Next();  // past the end stays at the end
  EXPECT_TRUE(it->IsEnd());
  EXPECT_EQ(it->Current(), nullptr);
}

TEST(RawFileInfoList, EmptyListIteratesNothing) {
  CRawFileInfoList list;
  IIterator<CRawFileInfo*>* it = list.GetIterator();
  EXPECT_TRUE(it->IsEnd());
}

}  // namespace
