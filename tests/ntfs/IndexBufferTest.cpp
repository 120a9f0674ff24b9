// Index buffers: every buffer of a real folder of thousands of entries, one field of a real buffer
// changed per row, and hand-made buffers for the rules no tool breaks.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"

using corvale::ntfs::ParseOutcome;
namespace attr = corvale::ntfs::attr;
namespace indx = corvale::ntfs::indx;

namespace {

struct Folder {
  uint32_t blockSize = 0;
  std::vector<std::vector<uint8_t>> buffers;  // raw, as on disk
  std::vector<std::string> rootNames;
};

// The index blocks of folder `record`, read through its $INDEX_ALLOCATION runs.
Folder ReadFolder(const NtfsTestVolume& v, int64_t record) {
  Folder folder;
  const std::vector<uint8_t>& r = v.records.at(record);
  CNTFSFileRecordView view(r.data(), r.size());
  CNTFSFileRecordAttribute root = view.FindAttribute(attr::kIndexRoot);
  folder.blockSize = root.GetValue().u32(8);
  ForEachIndexRootEntry(root, [&](const NTFSIndexEntry& e) {
    NTFSFileName name;
    if (!e.IsLast() && e.GetFileName(name).IsValid()) folder.rootNames.push_back(name.NameUtf8());
    return true;
  });
  CNTFSFileRecordDataRunsAttribute allocation(view.FindAttribute(attr::kIndexAllocation));
  if (!allocation.HasRuns()) return folder;
  for (int64_t at = 0; at < allocation.GetDataSize(); at += folder.blockSize)
    folder.buffers.push_back(v.ReadRuns(allocation.GetRunList(), uint64_t(at), folder.blockSize));
  return folder;
}

// A hand-made index buffer of 4096 bytes holding entries with $FILE_NAME keys, fix-up in place.
class BufferMaker {
 public:
  BufferMaker() : m_bytes(4096, 0) {
    std::copy_n("INDX", 4, m_bytes.begin());
    handmade::Put(m_bytes, indx::kUsaOffset, 0x28, 2);
    handmade::Put(m_bytes, indx::kUsaCount, 9, 2);
    handmade::Put(m_bytes, indx::kEntriesOffset, 0x28, 4);
    handmade::Put(m_bytes, indx::kAllocatedSize, 0xFE8, 4);
    handmade::Put(m_bytes, 0x28, 0x0202, 2);  // update sequence number
    m_next = 0x18 + 0x28;
  }
  BufferMaker& Entry(uint64_t parent, const std::string& name, int64_t allocated = 4096,
                     int64_t dataSize = 100, uint16_t flags = 0) {
    std::vector<uint8_t> key = handmade::FileNameValue(parent, name, allocated, dataSize);
    size_t length = (0x10 + key.size() + 7) / 8 * 8;
    handmade::Put(m_bytes, m_next, 64, 8);
    handmade::Put(m_bytes, m_next + 8, length, 2);
    handmade::Put(m_bytes, m_next + 10, key.size(), 2);
    handmade::Put(m_bytes, m_next + 12, flags, 2);
    std::copy(key.begin(), key.end(), m_bytes.begin() + m_next + 0x10);
    m_next += length;
    return *this;
  }
  std::vector<uint8_t> Finish() {
    handmade::Put(m_bytes, m_next + 8, 0x10, 2);
    handmade::Put(m_bytes, m_next + 12, indx::kEntryFlagLast, 2);
    m_next += 0x10;
    handmade::Put(m_bytes, indx::kIndexLength, m_next - 0x18, 4);
    std::vector<uint8_t> out = m_bytes;
    RestoreIndexBufferFixup(out.data(), out.size());
    return out;
  }

 private:
  std::vector<uint8_t> m_bytes;
  size_t m_next;
};

}  // namespace

TEST(NtfsIndexBuffers, BuffersOfTheBigFolderYieldEveryName) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const NtfsManifest& m = volume->manifest;
    Folder folder = ReadFolder(*volume, m.bigDirectory);
    ASSERT_GT(folder.buffers.size(), 3u);
    std::map<std::string, int> seen;
    for (const std::string& name : folder.rootNames) ++seen[name];
    for (size_t i = 0; i < folder.buffers.size(); ++i) {
      std::vector<uint8_t> buffer = folder.buffers[i];
      ASSERT_TRUE(IsIndexBuffer(buffer.data(), buffer.size()));
      corvale::ntfs::ParseResult result = CheckIndexBuffer(buffer.data(), buffer.size());
      ASSERT_TRUE(result.IsValid()) << "buffer " << i << ": " << result.describe();
      EXPECT_TRUE(IsValidIndexBuffer(buffer.data(), buffer.size()));
      EXPECT_EQ(buffer, folder.buffers[i]);  // the check leaves the buffer as it was
      EXPECT_EQ(GetIndexBufferVcn(buffer.data(), buffer.size()) *
                    std::min(folder.blockSize, volume->geometry.bytesPerCluster),
                i * folder.blockSize);
      ASSERT_TRUE(ApplyIndexBufferFixup(buffer.data(), buffer.size()));
      EXPECT_EQ(GetIndexBufferParent(buffer.data(), buffer.size()), m.bigDirectory);
      corvale::ntfs::ParseResult walk =
          ForEachIndexBufferEntry(buffer.data(), buffer.size(), [&](const NTFSIndexEntry& e) {
            if (e.IsLast()) return true;
            NTFSFileName name;
            EXPECT_TRUE(e.GetFileName(name).IsValid());
            EXPECT_EQ(int64_t(name.ParentRecordNumber()), m.bigDirectory);
            EXPECT_TRUE(IsIndexEntrySizeSane(e));
            std::string text = name.NameUtf8();
            ++seen[text];
            // The entry points at the file's own record.
            auto it = m.live.find(int64_t(GetIndexEntryFileReference(e) & 0xFFFFFFFFFFFF));
            EXPECT_TRUE(it != m.live.end() && it->second[0] == "big/" + text) << text;
            return true;
          });
      EXPECT_TRUE(walk.IsValid()) << walk.describe();
      ASSERT_TRUE(RestoreIndexBufferFixup(buffer.data(), buffer.size()));
      EXPECT_EQ(buffer, folder.buffers[i]);
    }
    EXPECT_EQ(seen.size(), m.bigNames.size());
    for (const std::string& name : m.bigNames) EXPECT_EQ(seen[name], 1) << name;
  }
}

TEST(NtfsIndexBuffers, IndexRootNamesItsDirectory) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  auto parentOf = [&](int64_t record) {
    const std::vector<uint8_t>& r = volume->records.at(record);
    CNTFSFileRecordView view(r.data(), r.size());
    return GetIndexRootParentReference(view.FindAttribute(attr::kIndexRoot));
  };
  int64_t frag = -1;
  for (const auto& [record, paths] : volume->manifest.live)
    if (paths[0] == "frag") frag = record;
  EXPECT_EQ(parentOf(frag), frag);
  // A folder whose entries all moved to index buffers keeps only the closing entry in its root:
  // nothing there names a parent.
  bool rootHoldsNames = !ReadFolder(*volume, volume->manifest.bigDirectory).rootNames.empty();
  EXPECT_EQ(parentOf(volume->manifest.bigDirectory), rootHoldsNames ? volume->manifest.bigDirectory : -1);
  EXPECT_EQ(GetIndexRootParentReference(CNTFSFileRecordAttribute()), -1);

  // mkntfs and ntfs-3g always give the root directory index buffers; a root whose entries sit in
  // its $INDEX_ROOT (as on a small volume) is made by hand: its entries name record 5.
  auto rootWith = [](std::vector<uint64_t> parents) {
    std::vector<uint8_t> value(0x20, 0);
    handmade::Put(value, 0x00, attr::kFileName, 4);
    handmade::Put(value, 0x08, 4096, 4);
    for (uint64_t parent : parents) {
      std::vector<uint8_t> key = handmade::FileNameValue(parent, "$MFT", 16384, 16384);
      std::vector<uint8_t> entry((0x10 + key.size() + 7) / 8 * 8, 0);
      handmade::Put(entry, 0x08, entry.size(), 2);
      handmade::Put(entry, 0x0A, key.size(), 2);
      std::copy(key.begin(), key.end(), entry.begin() + 0x10);
      value.insert(value.end(), entry.begin(), entry.end());
    }
    std::vector<uint8_t> last(0x10, 0);
    handmade::Put(last, 0x08, 0x10, 2);
    handmade::Put(last, 0x0C, indx::kEntryFlagLast, 2);
    value.insert(value.end(), last.begin(), last.end());
    handmade::Put(value, 0x10, 0x10, 4);                 // entries offset
    handmade::Put(value, 0x14, value.size() - 0x10, 4);  // index length
    handmade::Put(value, 0x18, value.size() - 0x10, 4);  // allocated size
    handmade::Record maker(5, 0, 0x0003);
    maker.AddResident(attr::kIndexRoot, value);
    return maker.Finish();
  };
  for (auto [parents, expected] : std::vector<std::pair<std::vector<uint64_t>, int64_t>>{
           {{5 | (uint64_t(5) << 48), 5 | (uint64_t(5) << 48)}, 5},
           {{5, 6}, -1},
           {{}, -1},
       }) {
    std::vector<uint8_t> r = rootWith(parents);
    CNTFSFileRecordView root(r.data(), r.size());
    EXPECT_EQ(GetIndexRootParentReference(root.FindAttribute(attr::kIndexRoot)), expected) << parents.size();
  }
}

TEST(NtfsIndexBuffers, HeaderCountMustMatchTheAllocatedSize) {
  std::vector<uint8_t> buffer = BufferMaker().Entry(40, "a.txt").Entry(40, "b.txt").Finish();
  EXPECT_TRUE(IsIndexBufferHeaderValid(buffer.data(), buffer.size()));
  EXPECT_TRUE(IsValidIndexBuffer(buffer.data(), buffer.size()));
  handmade::Put(buffer, indx::kUsaCount, 8, 2);
  EXPECT_FALSE(IsIndexBufferHeaderValid(buffer.data(), buffer.size()));
  EXPECT_EQ(CheckIndexBuffer(buffer.data(), buffer.size()).error.field, std::string("update-sequence count"));
}

TEST(NtfsIndexBuffers, ConsistencyRules) {
  struct Row {
    const char* name;
    std::vector<uint8_t> buffer;
    bool valid;
  } rows[] = {
      {"one parent", BufferMaker().Entry(40, "a").Entry(40, "b").Entry(40, "c").Finish(), true},
      {"two parents", BufferMaker().Entry(40, "a").Entry(41, "b").Finish(), false},
      {"same record, other sequence number",
       BufferMaker().Entry(40 | (uint64_t(1) << 48), "a").Entry(40 | (uint64_t(2) << 48), "b").Finish(),
       false},
      {"data size above allocated", BufferMaker().Entry(40, "a").Entry(40, "b", 100, 4096).Finish(), false},
      {"sub-node entry is not checked",
       BufferMaker().Entry(40, "a").Entry(41, "b", 0, 10, indx::kEntryFlagSubNode).Entry(40, "c").Finish(),
       true},
      {"only the last entry", BufferMaker().Finish(), true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsValidIndexBuffer(row.buffer.data(), row.buffer.size()), row.valid) << row.name;
  }
}

TEST(NtfsIndexBuffers, TornStrideIsRefused) {
  std::vector<uint8_t> buffer = BufferMaker().Entry(40, "a").Finish();
  buffer[7 * 512 + 510] ^= 0xFF;
  EXPECT_FALSE(VerifyIndexBufferFixup(buffer.data(), buffer.size()));
  corvale::ntfs::ParseResult result = CheckIndexBuffer(buffer.data(), buffer.size());
  EXPECT_TRUE(result.IsDamaged());
  EXPECT_EQ(result.error.offset, 7u * 512 + 510);
}

TEST(NtfsIndexBuffers, EntryOfLengthZeroFlaggedSubNodeEndsTheWalk) {
  // flags 1 and length 0: a walk that skipped such an entry before looking at its length would stay
  // on it forever.
  std::vector<uint8_t> buffer = BufferMaker().Entry(40, "a").Entry(40, "b").Finish();
  size_t second = 0x40 + ((0x10 + 0x42 + 2 + 7) / 8 * 8);
  ApplyIndexBufferFixup(buffer.data(), buffer.size());
  handmade::Put(buffer, second + 8, 0, 2);
  handmade::Put(buffer, second + 12, indx::kEntryFlagSubNode, 2);
  EXPECT_TRUE(AreIndexEntriesConsistent(buffer.data(), buffer.size()));
  handmade::Put(buffer, second + 8, 8, 2);
  EXPECT_FALSE(AreIndexEntriesConsistent(buffer.data(), buffer.size()));
}

TEST(NtfsIndexBuffers, EntriesOffsetMustLeaveTheEntriesInsideTheBuffer) {
  std::vector<uint8_t> base = BufferMaker().Entry(40, "a").Finish();
  // With a 32-bit sum, 0xFFFFF018 + 0xFE8 wraps to 0 and the count test would pass.
  for (uint32_t offset : {0xFFFFF018u, 0x2000u, 0xFF0u}) {
    std::vector<uint8_t> buffer = base;
    handmade::Put(buffer, indx::kEntriesOffset, offset, 4);
    EXPECT_FALSE(IsValidIndexBuffer(buffer.data(), buffer.size())) << std::hex << offset;
    EXPECT_EQ(GetIndexBufferParent(buffer.data(), buffer.size()), -1) << std::hex << offset;
  }
  // An index length of more than the buffer.
  std::vector<uint8_t> buffer = base;
  handmade::Put(buffer, indx::kIndexLength, 0x2000, 4);
  EXPECT_FALSE(IsIndexBufferHeaderValid(buffer.data(), buffer.size()));
  EXPECT_FALSE(AreIndexEntriesConsistent(buffer.data(), buffer.size()));
}

TEST(NtfsIndexBuffers, IndexRootShorterThanItsHeaderGivesNoParent) {
  handmade::Record maker(40, 0, 0x0003);
  std::vector<uint8_t> value(0x20, 0);
  handmade::Put(value, 0x10, 0x10, 4);  // entries offset
  handmade::Put(value, 0x14, 8, 4);     // index length below 16
  maker.AddResident(attr::kIndexRoot, value);
  std::vector<uint8_t> r = maker.Finish();
  CNTFSFileRecordView view(r.data(), r.size());
  EXPECT_EQ(GetIndexRootParentReference(view.FindAttribute(attr::kIndexRoot)), -1);
}

struct IndxRow {
  const char* name;
  size_t offset;  // from the buffer start; kFirstEntry + n: from the first entry
  std::vector<uint8_t> bytes;
  ParseOutcome outcome;
};
constexpr size_t kFirstEntry = 0x100000;

class NtfsIndexBufferField : public ::testing::TestWithParam<IndxRow> {};

TEST_P(NtfsIndexBufferField, OneFieldChanged) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const IndxRow& row = GetParam();
  Folder folder = ReadFolder(*volume, volume->manifest.bigDirectory);
  ASSERT_FALSE(folder.buffers.empty());
  std::vector<uint8_t> buffer = folder.buffers[0];
  size_t at = row.offset;
  if (at >= kFirstEntry)
    at = at - kFirstEntry + 0x18 + corvale::ByteReader(buffer.data(), buffer.size()).u32(0x18);
  std::copy(row.bytes.begin(), row.bytes.end(), buffer.begin() + at);
  corvale::ntfs::ParseResult result = CheckIndexBuffer(buffer.data(), buffer.size());
  EXPECT_EQ(result.outcome, row.outcome) << result.describe();
  EXPECT_EQ(IsValidIndexBuffer(buffer.data(), buffer.size()), row.outcome == ParseOutcome::Valid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsIndexBufferField,
    ::testing::Values(
        IndxRow{"Unchanged", 0, {}, ParseOutcome::Valid},
        IndxRow{"Magic", 0, {'I', 'N', 'D', 'Y'}, ParseOutcome::NotThisStructure},
        IndxRow{"UsaOffset39", indx::kUsaOffset, {39, 0}, ParseOutcome::Damaged},
        IndxRow{"UsaOffset257", indx::kUsaOffset, {1, 1}, ParseOutcome::Damaged},
        IndxRow{"UsaCount8", indx::kUsaCount, {8, 0}, ParseOutcome::Damaged},
        IndxRow{"UsaCount17", indx::kUsaCount, {17, 0}, ParseOutcome::Damaged},
        IndxRow{"AllocatedSizeAboveBuffer", indx::kAllocatedSize, {0x01, 0x10, 0, 0}, ParseOutcome::Damaged},
        IndxRow{"IndexLengthAboveAllocated", indx::kIndexLength, {0xF0, 0x0F, 0, 0}, ParseOutcome::Damaged},
        IndxRow{"EntriesOffsetHuge", indx::kEntriesOffset, {0x18, 0xF0, 0xFF, 0xFF}, ParseOutcome::Damaged},
        IndxRow{"StrideTorn", 4 * 512 + 510, {0x00, 0x00}, ParseOutcome::Damaged},
        IndxRow{"FirstEntryParentChanged", kFirstEntry + 0x10, {0x07}, ParseOutcome::Damaged},
        IndxRow{"FirstEntryLength15", kFirstEntry + 8, {0x0F, 0}, ParseOutcome::Damaged},
        IndxRow{"FirstEntryLengthPastIndex", kFirstEntry + 8, {0xF0, 0x0F}, ParseOutcome::Damaged},
        IndxRow{"FirstEntryDataSizeAboveAllocated",
                kFirstEntry + 0x10 + 0x30,
                {0, 0, 0, 0, 0, 0, 0, 0x40},
                ParseOutcome::Damaged},
        IndxRow{"FirstEntryLengthZeroEndsTheEntries", kFirstEntry + 8, {0, 0}, ParseOutcome::Valid}),
    [](const ::testing::TestParamInfo<IndxRow>& info) { return std::string(info.param.name); });

TEST(NtfsIndexBuffers, MftAtPartitionStart) {
  struct Row {
    int64_t record, firstCluster, start, spc;
    bool expected;
  } rows[] = {
      {2048 + 32, 4, 2048, 8, true},  {2048 + 33, 4, 2048, 8, false},
      {2048 + 32, 5, 2048, 8, false}, {2048 + 32, 32, 2048, 1, true},
      {100, 0, 2048, 8, false},       {2048, 0, 2048, 0, false},
      {2048, -1, 2048, 8, false},     {INT64_MAX, INT64_MAX / 8, 0, 8, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(IsMFTAtPartitionStart(row.record, row.firstCluster, row.start, row.spc), row.expected)
        << row.record;
}
