// The files found by signature as a state section: 22-byte records in the order found, read back
// with duplicates kept, and refused when cut or when the count lies.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/MemoryStateStream.h"
#include "core/RSException.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileListState.h"

namespace {

CRawFileInfo* File(uint64_t start, uint64_t size, int type, int analyser) {
  auto* f = new CRawFileInfo;
  f->SetStartSector(start);
  f->SetFileSize(size);
  f->SetFileType(type);
  f->SetAnalyserTypeId(analyser);
  return f;
}

int32_t LoadCode(const std::vector<uint8_t>& bytes, std::unique_ptr<CRawFileInfoList>* out) {
  MemoryStateStream stream;
  stream.Section(kRawFileListSection) = bytes;
  stream.StartReading();
  try {
    *out = LoadRawFileList(stream);
  } catch (IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

}  // namespace

TEST(RawFileListState, RecordsReadBackInOrderWithDuplicates) {
  CRawFileInfoList list;
  list.Add(File(100, 5000, 7, 7));
  list.Add(File(40, 0, 12, CRawFileInfo::kNoAnalyserTypeId));
  list.Add(File(100, 77, 1003, 1003));  // a second file at a sector already found
  MemoryStateStream stream;
  ASSERT_TRUE(SaveRawFileList(stream, list));
  const std::vector<uint8_t> good = stream.Section(kRawFileListSection);
  ASSERT_EQ(good.size(), 8u + 3 * 22);
  EXPECT_EQ(good[0], 3);
  EXPECT_EQ(good[8], 100);
  EXPECT_EQ(good[8 + 20], 7);  // analyser type id, 2 bytes

  std::unique_ptr<CRawFileInfoList> back;
  ASSERT_EQ(0, LoadCode(good, &back));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetCount(), 3u);
  IIterator<CRawFileInfo*>* it = back->GetIterator();
  std::vector<std::vector<uint64_t>> seen;
  for (it->First(); !it->IsEnd(); it->Next()) {
    const CRawFileInfo* f = it->Current();
    seen.push_back({f->GetStartSector(), f->GetFileSize(), static_cast<uint64_t>(f->GetFileType()),
                    static_cast<uint64_t>(f->GetAnalyserTypeId())});
    EXPECT_EQ(f->GetAnalyser(), nullptr);
  }
  EXPECT_EQ(seen, (std::vector<std::vector<uint64_t>>{
                      {100, 5000, 7, 7}, {40, 0, 12, 0xFFFF}, {100, 77, 1003, 1003}}));
  EXPECT_EQ(back->FindByStartSector(100)->GetFileSize(), 5000u);
}

TEST(RawFileListState, MissingSectionIsNoListAndDamageIsRefused) {
  MemoryStateStream empty;
  empty.StartReading();
  EXPECT_EQ(LoadRawFileList(empty), nullptr);

  CRawFileInfoList list;
  for (int i = 0; i < 5; ++i) list.Add(File(i * 10, i, 1, 1));
  MemoryStateStream stream;
  ASSERT_TRUE(SaveRawFileList(stream, list));
  const std::vector<uint8_t> good = stream.Section(kRawFileListSection);

  std::vector<uint8_t> huge = good;
  std::fill(huge.begin(), huge.begin() + 8, 0xFF);
  std::vector<uint8_t> fewer = good;
  fewer[0] = 4;
  std::unique_ptr<CRawFileInfoList> back;
  EXPECT_EQ(RS_ERROR_SHORT_READ, LoadCode(huge, &back));
  EXPECT_EQ(RS_ERROR_BAD_DATA, LoadCode(fewer, &back));
  EXPECT_EQ(back, nullptr);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_EQ(RS_ERROR_SHORT_READ, LoadCode(std::vector<uint8_t>(good.begin(), good.begin() + cut), &back))
        << cut;
    EXPECT_EQ(back, nullptr);
  }
}
