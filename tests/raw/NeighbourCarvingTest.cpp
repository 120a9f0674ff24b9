// Files that other files follow closely, carved and put into the "Raw Files" tree: each must end
// where it ends, so that the file after it is neither swallowed nor dropped as lying inside it.
// Sound files back to back (MPEG audio, then PCM and Vorbis data that hold many byte pairs looking
// like frame headers), a PDF saved again with its changes appended, and a JPEG cut in two with a
// small JPEG between its pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace rawtest;

struct Placed {
  uint64_t sector;
  std::string name;
};

std::vector<Placed> Manifest(const std::string& dir, const std::string& image) {
  std::vector<Placed> placed;
  std::ifstream in(dir + "/manifest.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string on, name;
    uint64_t sector = 0;
    fields >> on >> sector >> name;
    if (on == image) placed.push_back({sector, name});
  }
  return placed;
}

struct CarvedFile {
  std::string name;  // as the tree names it
  uint64_t size = 0;
  Bytes bytes;  // what recovery would write: the run's sectors, cut to the size
};

// The image carved as a user's RAW search does, and its tree: every file by its start sector.
class CarvedImage {
 public:
  explicit CarvedImage(const std::string& path) : m_disk(path) {}

  bool Carve() {
    if (!m_disk.IsOpened()) return false;
    CRAWSearchController controller;
    controller.SetResultSink(&m_found);
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&m_disk);
    driver.AddFileSystemSearchController(&controller);
    if (driver.Search(nullptr) != 1) return false;
    CRawFilesFolderBuilder builder;
    CFileSystemNode* root = builder.BuildRawFilesFolder(&m_disk, m_found.GetIterator(), nullptr, nullptr, 0);
    if (root == nullptr) return false;
    bool ok = true;
    WalkSubtree(root, [&](CFileNode* n) {
      IFileProperties* p = n->GetFileProperties();
      if (p->IsFolder()) return;
      auto runs = p->CreateDataRunList();
      if (runs == nullptr || runs->Runs().empty()) {
        ok = false;
        return;
      }
      CarvedFile file{p->GetName(), p->GetSize(), {}};
      const uint64_t start = runs->Runs().front().start;
      file.bytes.resize((file.size + 511) / 512 * 512);
      if (!m_disk.ReadSectors(file.bytes.data(), start, file.bytes.size() / 512)) ok = false;
      file.bytes.resize(file.size);
      m_files[start] = std::move(file);
    });
    FreeFileTree(root);
    return ok;
  }

  const CarvedFile* At(uint64_t sector) const {
    auto it = m_files.find(sector);
    return it == m_files.end() ? nullptr : &it->second;
  }

 private:
  CImageFileDevice m_disk;
  CRawFileInfoList m_found;
  std::map<uint64_t, CarvedFile> m_files;
};

std::string Extension(const std::string& name) {
  std::string ext = name.substr(name.rfind('.') + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  return ext;
}

// A PDF ends one byte after its last end-of-file mark, the line end the writers put there.
uint64_t PdfLength(const Bytes& f) {
  const std::string mark = "%%EOF";
  auto last = std::find_end(f.begin(), f.end(), mark.begin(), mark.end());
  return std::min<uint64_t>(static_cast<uint64_t>(last - f.begin()) + 6, f.size());
}

TEST(RawNeighbours, SoundFilesAndAnUpdatedPdfComeBackWholeAndNothingAfterThemIsLost) {
  CORVALE_FIXTURE(dir, "raw_neighbours.sh", "raw_neighbours");
  CarvedImage image(dir + "/neighbours.img");
  ASSERT_TRUE(image.Carve());
  const std::vector<Placed> placed = Manifest(dir, "neighbours.img");
  ASSERT_EQ(placed.size(), 6u);
  for (const Placed& p : placed) {
    SCOPED_TRACE(p.name + " at sector " + std::to_string(p.sector));
    const Bytes original = ReadFile(dir + "/files/" + p.name);
    const CarvedFile* carved = image.At(p.sector);
    if (Extension(p.name) == "OGG") {  // not a type the carver knows: nothing may start there
      EXPECT_EQ(carved, nullptr);
      continue;
    }
    if (carved == nullptr) {
      ADD_FAILURE() << "not in the tree";
      continue;
    }
    EXPECT_EQ(Extension(carved->name), Extension(p.name)) << carved->name;
    const uint64_t length = Extension(p.name) == "PDF" ? PdfLength(original) : original.size();
    EXPECT_EQ(carved->size, length);
    if (carved->size == length)
      EXPECT_TRUE(std::equal(carved->bytes.begin(), carved->bytes.end(), original.begin()));
  }
}

TEST(RawNeighbours, AJpegCutByAnotherIsLeftOutAndTheOtherComesBackWhole) {
  CORVALE_FIXTURE(dir, "raw_neighbours.sh", "raw_neighbours");
  CarvedImage image(dir + "/pieces.img");
  ASSERT_TRUE(image.Carve());
  const std::vector<Placed> placed = Manifest(dir, "pieces.img");
  ASSERT_EQ(placed.size(), 2u);
  const Placed& small = placed[0];
  const Placed& big = placed[1];
  ASSERT_EQ(small.name, "small.jpg");

  const CarvedFile* whole = image.At(small.sector);
  ASSERT_NE(whole, nullptr) << "the small picture is not in the tree";
  EXPECT_EQ(whole->bytes, ReadFile(dir + "/files/small.jpg"));

  // The cut picture runs into the other one: it is left out rather than given the other's end.
  EXPECT_EQ(image.At(big.sector), nullptr);
}

}  // namespace
