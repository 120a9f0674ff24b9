// Recovery of a file whose record was damaged to claim far more than the volume holds: a real
// volume made by mkntfs and ntfs-3g, with a few bytes of one FILE record changed by hand (no tool
// makes that damage). The $DATA attribute is marked encrypted, its run list replaced by a single run
// of 262,144 clusters (1 GiB), its sizes set to 1 GiB, and a 16-byte $EFS stream added.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "NtfsRecordWalk.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "platform/Log.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kClaimedBytes = 1ull << 30;

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U16(b, at) | uint32_t(U16(b, at + 2)) << 16; }
void Put(std::vector<uint8_t>& b, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = uint8_t(value >> (8 * i));
}

struct Damage {
  const char* label;
  std::vector<uint8_t> runList;  // replaces the file's run list
  bool recovered;
  const char* log;
};

class DamagedNtfsRecord : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedNtfsRecord, AHugeClaimIsHolesOrRefusedNeverAGigabyteOfZeros) {
  CORVALE_FIXTURE(imagePath, "ntfs_one_file.sh", "ntfs_one_file.img");
  std::vector<uint8_t> image(fs::file_size(imagePath));
  std::ifstream(imagePath, std::ios::binary).read(reinterpret_cast<char*>(image.data()), image.size());

  // Where victim.bin's record lies: the $MFT starts contiguously on a fresh volume.
  const uint64_t clusterBytes = uint64_t(U16(image, 0x0B)) * image[0x0D];
  const int8_t recordCode = int8_t(image[0x40]);
  const uint64_t recordBytes = recordCode < 0 ? 1ull << -recordCode : recordCode * clusterBytes;
  const uint64_t mftStart = U32(image, 0x30) * clusterBytes;
  int64_t victim = -1;
  {
    MemoryDevice device(image, 512);
    ntfswalk::WalkResult walk;
    std::string why;
    ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
    for (const auto& [record, node] : walk.nodes)
      if (std::string(node->GetFileProperties()->GetName()) == "victim.bin") victim = record;
    FreeFileTree(walk.root);
  }
  ASSERT_GE(victim, 0);
  const size_t at = mftStart + uint64_t(victim) * recordBytes;
  ASSERT_EQ(std::memcmp(&image[at], "FILE", 4), 0);
  std::vector<uint8_t> record(image.begin() + at, image.begin() + at + recordBytes);

  // Find the unnamed non-resident $DATA attribute and the end marker.
  size_t data = 0, end = 0;
  for (size_t a = U16(record, 0x14); a + 8 <= record.size();) {
    const uint32_t type = U32(record, a);
    if (type == 0xFFFFFFFF) {
      end = a;
      break;
    }
    if (type == 0x80 && record[a + 8] == 1 && record[a + 9] == 0) data = a;
    const uint32_t length = U32(record, a + 4);
    ASSERT_GT(length, 0u);
    a += length;
  }
  ASSERT_NE(data, 0u);
  ASSERT_NE(end, 0u);
  const size_t runs = data + U16(record, data + 0x20);
  ASSERT_GE(data + U32(record, data + 4), runs + GetParam().runList.size());
  // The $EFS attribute goes where the end marker was: 0x30 bytes, then the marker again. The stride
  // ends (bytes 510-511 of each 512) hold the update sequence number and must stay as they are.
  ASSERT_LT(end + 0x30 + 8, 510u) << "the record has no room before its first stride end";

  record[data + 0x0D] |= 0x40;  // flags: encrypted
  Put(record, data + 0x18, kClaimedBytes / clusterBytes - 1, 8);
  std::copy(GetParam().runList.begin(), GetParam().runList.end(), record.begin() + runs);
  for (size_t field : {0x28, 0x30, 0x38}) Put(record, data + field, kClaimedBytes, 8);
  std::vector<uint8_t> efs(0x30, 0);
  Put(efs, 0, 0x100, 4);                 // $LOGGED_UTILITY_STREAM
  Put(efs, 4, 0x30, 4);                  // length
  efs[9] = 4;                            // name length
  Put(efs, 0x0A, 0x18, 2);               // name offset
  Put(efs, 0x0E, U16(record, 0x28), 2);  // attribute id: the record's next one
  Put(efs, 0x10, 16, 4);                 // value length
  Put(efs, 0x14, 0x20, 2);               // value offset
  for (int i = 0; i < 4; ++i) Put(efs, 0x18 + 2 * i, "$EFS"[i], 2);
  // The stream begins with its own length.
  Put(efs, 0x20, 16, 8);
  for (int i = 8; i < 16; ++i) efs[0x20 + i] = uint8_t(0xE0 + i);
  std::copy(efs.begin(), efs.end(), record.begin() + end);
  Put(record, end + 0x30, 0xFFFFFFFF, 4);
  Put(record, end + 0x34, 0, 4);
  Put(record, 0x18, U32(record, 0x18) + 0x30, 4);  // bytes in use
  Put(record, 0x28, U16(record, 0x28) + 1, 2);
  std::copy(record.begin(), record.end(), image.begin() + at);

  MemoryDevice device(std::move(image), 512);
  ntfswalk::WalkResult walk;
  std::string why;
  ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  ASSERT_TRUE(walk.nodes.count(victim));
  const IFileProperties* damaged = walk.nodes[victim]->GetFileProperties();
  ASSERT_NE(damaged->GetAttributes() & kAttributeEncrypted, 0) << "the patch did not take";
  EXPECT_EQ(damaged->GetSize(), kClaimedBytes);
  WalkSubtree(walk.root, [](CFileNode* n) { n->GetFileProperties()->SetCheckState(kChecked); });

  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  corvale::log::ScopedCapture log;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, walk.root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_TRUE(log.HasPart(GetParam().log)) << GetParam().log;
  const std::string out = top + "/victim.bin";
  struct stat st {};
  if (!GetParam().recovered) {
    EXPECT_NE(stat(out.c_str(), &st), 0) << "a refused file leaves nothing";
    EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  } else {
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    // The raw stream: headers, the key stream, and 16,384 blocks of zeros behind their headers.
    EXPECT_EQ(uint64_t(st.st_size), 66u + 16 + 42 + (kClaimedBytes / 65536) * (512 + 65536));
    EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(st.st_size) / 8) << "the zeros were written";
    std::ifstream in(out, std::ios::binary);
    std::vector<char> head(66 + 16 + 42 + 512 + 4096);
    in.read(head.data(), head.size());
    EXPECT_EQ(std::memcmp(&head[66], "\x10\0\0\0\0\0\0\0\xE8\xE9", 10), 0) << "the $EFS stream";
    for (size_t i = 66 + 16 + 42 + 512; i < head.size(); ++i) ASSERT_EQ(head[i], 0) << i;
    EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  }
  fs::remove_all(target);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DamagedNtfsRecord,
    ::testing::Values(
        // One sparse run: 3 bytes of length (0x040000 clusters), no position. Nothing of the claimed
        // gigabyte is stored on the 16 MiB volume: a size no file there can have.
        Damage{"sparse_run",
               {0x03, 0x00, 0x00, 0x04, 0x00},
               false,
               "File victim.bin claims 1073741824 bytes, more than its volume can hold"},
        // The same length stored from cluster 16: far past the end of a 16 MiB volume.
        Damage{"stored_run_past_the_device",
               {0x13, 0x00, 0x00, 0x04, 0x10, 0x00},
               false,
               "File victim.bin has a data run at cluster 16 of 262144 clusters that lies past the end of "
               "the device"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
