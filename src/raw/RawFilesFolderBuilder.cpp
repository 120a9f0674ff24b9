#include "raw/RawFilesFolderBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/ClusterUseBitMap.h"
#include "core/FileNode.h"
#include "core/IDIRBuildCallback.h"
#include "core/StateIo.h"
#include "core/WorkerThread.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "raw/IRawFileAnalyser.h"
#include "raw/RAWFileProperties.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileCoverage.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawSectorReader.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

namespace {

constexpr const char* kRootName = "Raw Files";
// The longest text of the progress step, as the window shows it.
constexpr size_t kMaxStepText = 259;

// Texts from file contents (camera models, song titles) and from signature scripts end up in names:
// characters that no file name on either system may hold become '_'.
std::string SanitiseName(std::string name) {
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr) c = '_';
  }
  return name;
}

std::string RangeName(int64_t first, int64_t last) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld-%lld", static_cast<long long>(first), static_cast<long long>(last));
  return text;
}

CRAWFileProperties* FolderProperties(const std::string& name) {
  CRAWFileProperties* properties = CreateRAWFileProperties();
  CRawFileInfo empty;
  empty.SetStartSector(kSparseRunStart);
  properties->InitFromRawFileInfo(&empty);
  properties->SetAttributes(kAttributeFolder);
  properties->SetRawFileName(name.c_str());
  properties->SetTypeByte(CRAWFileProperties::kTypeFolder);
  return properties;
}

CFileNode* CreateRawFolderNode(const std::string& name) {
  CFileNode* node = CreateFileNode();
  node->SetFileProperties(FolderProperties(name));
  return node;
}

void Rename(CFileNode* node, const std::string& name) {
  if (auto* properties = dynamic_cast<CRAWFileProperties*>(node->GetFileProperties())) {
    properties->SetRawFileName(name.c_str());
  }
}

uint64_t CeilDiv(uint64_t value, uint64_t unit) { return value / unit + (value % unit != 0 ? 1 : 0); }

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return checkedAdd(a, b).value_or(UINT64_MAX); }

// The first analyser of the list whose id, as 16 bits, is the record's analyser id.
IRawFileAnalyser* FindAnalyser(const CRawFileAnalyserList& list, int analyserTypeId) {
  for (IRawFileAnalyser* analyser : list) {
    if (static_cast<int>(static_cast<uint16_t>(analyser->GetTypeId())) == analyserTypeId) return analyser;
  }
  return nullptr;
}

}  // namespace

CRawFilesFolderBuilder::CRawFilesFolderBuilder()
    : m_fileCounts(kTypeCount, 0), m_typeFolders(kTypeCount, nullptr) {}

int CRawFilesFolderBuilder::GetFileCount(int32_t id) const {
  return id >= 0 && id < kTypeCount ? m_fileCounts[static_cast<size_t>(id)] : 0;
}

int CRawFilesFolderBuilder::CountFilesOutsideUsedClusters(IIterator<CRawFileInfo*>* files,
                                                          IIsClusterUsed* usedClusters,
                                                          uint64_t sectorRatio) {
  if (files == nullptr) return 0;
  int count = 0;
  for (files->First(); !files->IsEnd(); files->Next()) {
    const CRawFileInfo* file = files->Current();
    if (usedClusters == nullptr || file == nullptr) {
      ++count;
      continue;
    }
    const std::optional<uint64_t> sector = checkedMul(file->GetStartSector(), sectorRatio);
    if (sector && !usedClusters->IsClusterUsed(*sector)) ++count;
  }
  return count;
}

std::string CRawFilesFolderBuilder::FileName(int32_t id, const std::string& prefix) const {
  char number[16];
  std::snprintf(number, sizeof number, "%03d", GetFileCount(id));
  const std::string tail = std::string(number) + "." + GetRawFileExtension(id);
  const std::string lead = prefix.empty() ? std::string("FILE") : prefix;
  // The count and the extension always fit; the text taken from the file gives way.
  const size_t room = tail.size() < kMaxNodeName ? kMaxNodeName - tail.size() : 0;
  return SanitiseName(CutUtf8(lead.c_str(), room) + tail);
}

CFileSystemNode* CRawFilesFolderBuilder::BuildRawFilesFolder(IStorageDevice* device,
                                                             IIterator<CRawFileInfo*>* files,
                                                             IIsClusterUsed* usedClusters,
                                                             IDIRBuildCallback* callback,
                                                             int inWorkerThread) {
  m_device = device;
  m_files = files;
  m_usedClusters = usedClusters;
  m_callback = callback;
  if (inWorkerThread == 0) return Build();
  // When no worker can be started the root member is returned as it stands.
  return RunOnWorker([this] { return Build(); }).value_or(m_root);
}

CFileSystemNode* CRawFilesFolderBuilder::Build() {
  const CRecoveryContext& context = GetRecoveryContext();
  if (context.RecoverRawFiles == 0) return nullptr;
  if (m_device == nullptr || m_files == nullptr) return nullptr;
  CreateRoot();

  // A 512-byte view over a device of larger sectors: the files were found on the device it wraps,
  // while the map (and the reads of whoever recovers the tree through the view) count the view's
  // sectors.
  IStorageDevice* device = m_device;
  uint64_t ratio = 1;
  if (IStorageDevice* inner = m_device->GetInnerDevice()) {
    const int32_t outerSize = m_device->GetSectorSize();
    const int32_t innerSize = inner->GetSectorSize();
    if (outerSize > 0 && innerSize >= outerSize) ratio = static_cast<uint64_t>(innerSize / outerSize);
    device = inner;
  }
  const int32_t sectorSize = device->GetSectorSize();
  const int64_t sectorCount = device->GetSectorCount();
  const uint64_t z = sectorSize > 0 ? static_cast<uint64_t>(sectorSize) : 512;
  const uint64_t deviceSectors = sectorCount > 0 ? static_cast<uint64_t>(sectorCount) : 0;

  if (m_callback != nullptr) {
    const int total = CountFilesOutsideUsedClusters(m_files, m_usedClusters, ratio);
    const std::string text = CutUtf8(LoadText(kBuildingTextId).c_str(), kMaxStepText);
    m_callback->BeginStage(text.c_str(), total);
  }

  std::vector<bool> chosen(kTypeCount, false);
  for (int32_t id : context.RawFileTypes) {
    if (IsRawFileTypeIdInTable(id)) chosen[static_cast<size_t>(id)] = true;
  }
  // The user chose the types of signature scripts by putting the scripts in their folder.
  std::fill(chosen.begin() + kFirstCustomRawFileType, chosen.end(), true);
  CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
  uint64_t previousJpegStart = 0;
  uint64_t previousJpegSize = 0;
  // Files inside files already taken are kept in proportion, and passed over before they are
  // measured once the room is spent.
  CRawFileCoverage taken(static_cast<uint32_t>(z));

  for (m_files->First(); !m_files->IsEnd(); m_files->Next()) {
    if (m_callback != nullptr) m_callback->Poll();
    CRawFileInfo* p = m_files->Current();
    if (p == nullptr) continue;
    const int type = p->GetFileType();
    // Ids index fixed tables: an id from a damaged state file must not reach them.
    if (!IsRawFileTypeIdInTable(type) || !chosen[static_cast<size_t>(type)]) continue;
    const std::optional<uint64_t> treeStart = checkedMul(p->GetStartSector(), ratio);
    if (!treeStart) continue;
    if (m_usedClusters != nullptr && m_usedClusters->IsClusterUsed(*treeStart)) continue;

    const uint64_t start = p->GetStartSector();
    if (!taken.MayTake(start)) continue;
    const uint64_t bytesToEnd =
        start < deviceSectors ? checkedMul(deviceSectors - start, z).value_or(UINT64_MAX) : 0;
    CRawFileInfo r;
    uint64_t size = 0;
    if (p->GetFileSize() != 0) {
      r.SetFirstInfoText(p->GetFirstInfoText());
      r.SetSecondInfoText(p->GetSecondInfoText());
      size = p->GetFileSize();
    } else {
      if (p->GetAnalyserTypeId() == -1) continue;
      IRawFileAnalyser* analyser = FindAnalyser(analysers, p->GetAnalyserTypeId());
      if (analyser == nullptr) continue;
      try {
        if (analyser->ComputeFileSize(p, device)) size = p->GetFileSize();
        r.SetFirstInfoText(analyser->GetFirstInfoText());
        r.SetSecondInfoText(analyser->GetSecondInfoText());
      } catch (...) {
        size = 0;
      }
      // Measured again by the next build, which may cover another partition.
      p->SetFileSize(0);
    }
    // Sizes from header tests are capped as well as measured ones, and no file runs past the device.
    size = CapRawFileSize(size, bytesToEnd);
    if (size == 0) continue;
    // Measuring may have told the type more exactly (a ZIP that holds a Word document is a DOCX):
    // the tree files it under the type the record has now.
    const int measuredType = p->GetFileType();
    r.SetFileSize(size);
    r.SetStartSector(start);
    r.SetFileType(IsRawFileTypeIdInTable(measuredType) ? measuredType : type);
    r.SetAnalyserTypeId(p->GetAnalyserTypeId());

    if (p->GetAnalyserTypeId() == kJpegAnalyserId) {
      if (previousJpegSize != 0 && previousJpegStart < start) {
        const uint64_t previousEnd = SaturatingAdd(previousJpegStart, CeilDiv(previousJpegSize, z));
        const uint64_t currentEnd = SaturatingAdd(start, CeilDiv(size, z));
        const uint64_t tenth = previousJpegSize / 10;
        // An image inside the previous one whose size is far from half of it is a thumbnail or a
        // preview the camera stored in the larger file.
        if (previousEnd >= currentEnd && (size < tenth || size > tenth * 9)) continue;
      }
    }
    if (!taken.Take(start, size)) continue;
    if (p->GetAnalyserTypeId() == kJpegAnalyserId) {
      previousJpegStart = start;
      previousJpegSize = size;
    }

    AddFile(r, *treeStart);
    if (m_callback != nullptr && m_callback->AddProgress(1) == -1) break;
  }

  FinishNames();
  if (m_callback != nullptr) m_callback->EndStage();
  return m_root;
}

void CRawFilesFolderBuilder::CreateRoot() {
  m_root = CreateFileSystemNode();
  m_root->SetFileProperties(FolderProperties(kRootName));
  m_root->SetPosition(0, 1);
  m_root->SetFileSystemType(kFileSystemRaw);
  m_rootCreated = 1;
}

CFileNode* CRawFilesFolderBuilder::CreateTypeFolder(int32_t id) {
  std::string name = GetRawFileDescription(id);
  if (name.empty()) name = GetRawFileExtension(id);
  name = SanitiseName(CutUtf8(name.c_str(), kMaxNodeName));
  if (name.empty()) name = std::to_string(id);
  CFileNode* folder = CreateRawFolderNode(name);
  m_root->AddChild(folder);
  m_typeFolders[static_cast<size_t>(id)] = folder;
  return folder;
}

void CRawFilesFolderBuilder::AddFile(const CRawFileInfo& file, uint64_t startSector) {
  const int32_t id = file.GetFileType();
  if (id < 0 || id >= kTypeCount || m_root == nullptr) return;
  const size_t slot = static_cast<size_t>(id);
  if (m_typeFolders[slot] == nullptr) CreateTypeFolder(id);

  CRAWFileProperties* properties = CreateRAWFileProperties();
  properties->InitFromRawFileInfo(&file, startSector);
  properties->SetAttributes(CRAWFileProperties::kAttributeFile);
  const int count = ++m_fileCounts[slot];
  properties->SetRawFileName(FileName(id, file.GetFirstInfoText()).c_str());
  properties->SetComment(file.GetSecondInfoText());
  CFileNode* node = CreateFileNode();
  node->SetFileProperties(properties);

  CFileNode* typeFolder = m_typeFolders[slot];
  CFileNode* parent = typeFolder;
  if (count > kFilesPerFolder && typeFolder->GetFirstChild() != nullptr) parent = typeFolder->GetFirstChild();
  parent->AddChild(node);

  if (count % kFilesPerFolder == 0) {
    if (count == kFilesPerFolder) {
      // The full folder becomes the first range folder inside a fresh folder of the type.
      m_root->RemoveChild(typeFolder);
      Rename(typeFolder, RangeName(count - kFilesPerFolder + 1, count));
      CreateTypeFolder(id)->AddChild(typeFolder);
    }
    m_typeFolders[slot]->AddChild(
        CreateRawFolderNode(RangeName(int64_t{count} + 1, int64_t{count} + kFilesPerFolder)));
  }
}

void CRawFilesFolderBuilder::FinishNames() {
  for (size_t id = 0; id < m_typeFolders.size(); ++id) {
    const int count = m_fileCounts[id];
    if (count < kFilesPerFolder || m_typeFolders[id] == nullptr) continue;
    CFileNode* last = m_typeFolders[id]->GetFirstChild();
    if (last == nullptr) continue;
    if (count % kFilesPerFolder == 0) {
      // The range folder made for the next file never got one: an empty folder named past the
      // last file would only confuse.
      FreeFileTree(last);
    } else {
      Rename(last, RangeName(count / kFilesPerFolder * kFilesPerFolder + 1, count));
    }
  }
  m_namesFinished = 1;
}
