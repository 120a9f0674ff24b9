// Office documents written by LibreOffice and a PDF written by Ghostscript, back to back on a FAT32
// disk whose file-system area was wiped: every document is found at its start, typed (Word, Excel
// and PowerPoint told apart inside compound files and inside ZIP), given the length its analyser's
// rule gives, and its bytes on the disk are the original's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "RawTestSupport.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace rawtest;

constexpr uint64_t kBlockSectors = 8192;

uint32_t Le32(const Bytes& b, size_t at) {
  return at + 4 <= b.size() ? uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                                  uint32_t(b[at + 3]) << 24
                            : 0;
}

size_t Find(const Bytes& b, const std::string& what, size_t from = 0, bool anyCase = false) {
  auto eq = [&](uint8_t x, char y) { return anyCase ? std::tolower(x) == std::tolower(y) : x == uint8_t(y); };
  auto it = std::search(b.begin() + static_cast<long>(from), b.end(), what.begin(), what.end(), eq);
  return it == b.end() ? std::string::npos : static_cast<size_t>(it - b.begin());
}

// A compound file's length by the rule, read independently of the analyser: the sectors up to the
// last one the allocation table uses, and the header. The documents here need no DIFAT chain.
uint64_t CompoundRuleLength(const Bytes& f) {
  std::vector<uint32_t> tables;
  for (size_t i = 0; i < 109; ++i) {
    const uint32_t s = Le32(f, 76 + 4 * i);
    if (s != 0xFFFFFFFF) tables.push_back(s);
  }
  if (tables.empty()) return 0;
  const uint64_t last = (uint64_t(tables.back()) + 1) * 512;
  uint32_t used = 0;
  for (uint32_t e = 0; e < 128; ++e)
    if (Le32(f, last + 4 * e) != 0xFFFFFFFF) used = e + 1;
  return ((tables.size() - 1) * 128 + used) * 512 + 512;
}

struct Document {
  std::string name;
  Bytes bytes;
  int32_t type;
  uint64_t length;  // by the analyser's rule
};

Document Expect(const std::string& dir, const std::string& name) {
  Document d{name, ReadFile(dir + "/documents/" + name), 0, 0};
  const std::string ext = name.substr(name.rfind('.') + 1);
  static const std::map<std::string, int32_t> types = {
      {"doc", kRawTypeDOC},   {"xls", kRawTypeXLS},   {"ppt", kRawTypePPT},
      {"docx", kRawTypeDOCX}, {"xlsx", kRawTypeXLSX}, {"pptx", kRawTypePPTX},
      {"rtf", kRawTypeRTF},   {"htm", kRawTypeHTM},   {"pdf", kRawTypePDF}};
  d.type = types.at(ext);
  d.length = d.bytes.size();
  if (ext == "doc" || ext == "xls" || ext == "ppt") d.length = CompoundRuleLength(d.bytes);
  // The outermost group's closing brace ends the file; a line break after it is left out.
  if (ext == "rtf") {
    while (d.length > 0 && d.bytes[d.length - 1] != '}') --d.length;
  }
  // The end tag ends the file.
  if (ext == "htm") d.length = Find(d.bytes, "</html>", 0, true) + 7;
  // The last end-of-file mark and the byte after it.
  if (ext == "pdf") {
    const std::string mark = "%%EOF";
    const auto last = std::find_end(d.bytes.begin(), d.bytes.end(), mark.begin(), mark.end());
    d.length = std::min<uint64_t>(static_cast<uint64_t>(last - d.bytes.begin()) + 6, d.bytes.size());
  }
  return d;
}

// Where each document lies on the disk: the sector that holds its first sector.
std::map<uint64_t, const Document*> FindDocuments(CImageFileDevice& disk,
                                                  const std::vector<Document>& documents) {
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());
  std::map<std::string, const Document*> byHead;
  for (const Document& d : documents) {
    Bytes head(512, 0);
    std::copy_n(d.bytes.begin(), std::min<size_t>(512, d.bytes.size()), head.begin());
    byHead[std::string(head.begin(), head.end())] = &d;
  }
  std::map<uint64_t, const Document*> truth;
  Bytes block(kBlockSectors * 512);
  for (uint64_t first = 0; first < sectors; first += kBlockSectors) {
    const uint64_t n = std::min(kBlockSectors, sectors - first);
    if (!disk.ReadSectors(block.data(), first, n)) return {};
    for (uint64_t i = 0; i < n; ++i) {
      auto it = byHead.find(std::string(block.begin() + static_cast<long>(i * 512),
                                        block.begin() + static_cast<long>(i * 512 + 512)));
      if (it != byHead.end()) truth[first + i] = it->second;
    }
  }
  return truth;
}

std::vector<Document> LoadDocuments(const std::string& dir) {
  std::vector<Document> documents;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/documents"))
    documents.push_back(Expect(dir, e.path().filename().string()));
  return documents;
}

TEST(RawCarving, FindsEveryOfficeDocumentOfAWipedFatDiskWithItsLengthAndBytes) {
  CORVALE_FIXTURE(dir, "raw_documents.sh", "raw_documents");
  const std::vector<Document> documents = LoadDocuments(dir);
  ASSERT_EQ(documents.size(), 10u);

  CImageFileDevice disk(dir + "/documents.img");
  ASSERT_TRUE(disk.IsOpened());
  const std::map<uint64_t, const Document*> truth = FindDocuments(disk, documents);
  ASSERT_EQ(truth.size(), documents.size());

  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  std::map<uint64_t, CRawFileInfo*> byStart;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) byStart[it->Current()->GetStartSector()] = it->Current();

  for (const auto& [start, document] : truth) {
    SCOPED_TRACE(document->name + " at sector " + std::to_string(start));
    ASSERT_EQ(byStart.count(start), 1u);
    CRawFileInfo* f = byStart[start];
    // The disk is smaller than the look-ahead: what the scan left unmeasured, the tree measures.
    if (f->GetFileSize() == 0) {
      ASSERT_TRUE(f->GetAnalyser()->ComputeFileSize(f, &disk));
    }
    EXPECT_EQ(f->GetFileType(), document->type);
    EXPECT_EQ(f->GetFileSize(), document->length);
    const uint64_t compare = std::min<uint64_t>(f->GetFileSize(), document->bytes.size());
    Bytes onDisk((compare + 511) / 512 * 512);
    ASSERT_TRUE(disk.ReadSectors(onDisk.data(), start, onDisk.size() / 512));
    EXPECT_TRUE(std::equal(document->bytes.begin(), document->bytes.begin() + static_cast<long>(compare),
                           onDisk.begin()));
  }
}

// The tree a user sees: each document under the type its measuring found (a ZIP that holds a Word,
// Excel or PowerPoint document is that document), with its length.
TEST(RawCarving, OfficeDocumentsKeepTheTypeTheirMeasuringFoundInTheTree) {
  CORVALE_FIXTURE(dir, "raw_documents.sh", "raw_documents");
  const std::vector<Document> documents = LoadDocuments(dir);
  CImageFileDevice disk(dir + "/documents.img");
  ASSERT_TRUE(disk.IsOpened());
  const std::map<uint64_t, const Document*> truth = FindDocuments(disk, documents);
  ASSERT_EQ(truth.size(), documents.size());

  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  CRawFilesFolderBuilder builder;
  CFileSystemNode* root = builder.BuildRawFilesFolder(&disk, found.GetIterator(), nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  struct Owner {
    CFileSystemNode* root;
    ~Owner() { FreeFileTree(root); }
  } owner{root};
  std::map<uint64_t, std::pair<std::string, uint64_t>> inTree;  // start: name and size
  WalkSubtree(root, [&](CFileNode* n) {
    IFileProperties* p = n->GetFileProperties();
    if (p->IsFolder()) return;
    auto runs = p->CreateDataRunList();
    if (runs != nullptr && !runs->Runs().empty())
      inTree[runs->Runs().front().start] = {p->GetName(), p->GetSize()};
  });

  for (const auto& [start, document] : truth) {
    SCOPED_TRACE(document->name + " at sector " + std::to_string(start));
    ASSERT_EQ(inTree.count(start), 1u);
    const auto& [name, size] = inTree[start];
    std::string ext = document->name.substr(document->name.rfind('.') + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    EXPECT_EQ(name.substr(name.rfind('.') + 1), ext) << name;
    EXPECT_EQ(size, document->length);
  }
}

}  // namespace
