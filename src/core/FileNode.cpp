#include "core/FileNode.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "core/FileProperties.h"
#include "core/StateIo.h"

using namespace corvale;

namespace {

// Breadth-first over a subtree, the start node first, children in list order.
template <typename Visit>
void Breadth(CFileNode* start, Visit&& visit) {
  if (start == nullptr) return;
  std::deque<CFileNode*> queue{start};
  while (!queue.empty()) {
    CFileNode* node = queue.front();
    queue.pop_front();
    visit(node);
    for (CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) queue.push_back(c);
  }
}

bool IsFolderNode(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p != nullptr && p->IsFolder();
}

// Adds one node to a summary, from its check state as it is now.
void CountNode(const CFileNode* node, SelectionSummary& s) {
  const IFileProperties* p = node->GetFileProperties();
  if (p == nullptr) return;
  const uint16_t attributes = p->GetAttributes();
  if (attributes & kAttributeFolder) return;
  const bool checked = p->GetCheckState() == kChecked;
  const uint64_t size = p->GetSize();
  ++s.files;
  s.bytes += size;
  if (checked) {
    ++s.checkedFiles;
    s.checkedBytes += size;
  }
  if (attributes & kAttributeCompressed) {
    ++s.compressedFiles;
    if (checked) ++s.checkedCompressedFiles;
  }
  if (attributes & kAttributeEncrypted) {
    ++s.encryptedFiles;
    if (checked) ++s.checkedEncryptedFiles;
  }
}

// A partition node's summary after a subtree counted as `fresh` (before the toggle) was checked or
// unchecked as a whole. Totals do not change, only the checked counters.
void ApplyToggle(SelectionSummary& summary, const SelectionSummary& fresh, bool checked) {
  if (checked) {
    summary.checkedFiles += fresh.files - fresh.checkedFiles;
    summary.checkedBytes += fresh.bytes - fresh.checkedBytes;
    summary.checkedCompressedFiles += fresh.compressedFiles - fresh.checkedCompressedFiles;
    summary.checkedEncryptedFiles += fresh.encryptedFiles - fresh.checkedEncryptedFiles;
  } else {
    summary.checkedFiles -= fresh.checkedFiles;
    summary.checkedBytes -= fresh.checkedBytes;
    summary.checkedCompressedFiles -= fresh.checkedCompressedFiles;
    summary.checkedEncryptedFiles -= fresh.checkedEncryptedFiles;
  }
}

// A partition node inside a subtree that was checked or unchecked as a whole: all of its files now
// share the new state.
void SetWhollyChecked(SelectionSummary& summary, bool checked) {
  summary.checkedFiles = checked ? summary.files : 0;
  summary.checkedBytes = checked ? summary.bytes : 0;
  summary.checkedCompressedFiles = checked ? summary.compressedFiles : 0;
  summary.checkedEncryptedFiles = checked ? summary.encryptedFiles : 0;
}

bool IsFileSystemTypeCode(int32_t code) { return code >= 0 && code <= CFileNode::kFileSystemNotRecognised; }

}  // namespace

// ---- CFileNode ----

CFileNode::~CFileNode() {
  m_parent = m_firstChild = m_nextSibling = nullptr;
  m_properties = nullptr;
  m_userData = nullptr;
}

bool CFileNode::GetPosition(uint64_t& firstSector, uint32_t& sectorsPerCluster) const {
  for (const CFileNode* n = m_parent; n != nullptr; n = n->m_parent) {
    if (n->IsFileSystemNode()) return n->GetPosition(firstSector, sectorsPerCluster);
  }
  firstSector = 0;
  sectorsPerCluster = 0;
  return false;
}

int32_t CFileNode::GetFileSystemType() const {
  for (const CFileNode* n = this; n != nullptr; n = n->m_parent) {
    if (n->IsFileSystemNode()) return n->GetFileSystemType();
  }
  return kFileSystemNotRecognised;
}

CFileNode* CFileNode::AddChild(CFileNode* child) {
  if (child == nullptr || child == this) return child;
  // A node still hanging in another list would cut that list off at this node.
  if (child->m_parent != nullptr) child->m_parent->RemoveChild(child);
  child->m_parent = this;
  child->m_nextSibling = m_firstChild;
  m_firstChild = child;
  return child;
}

bool CFileNode::RemoveChild(CFileNode* child) {
  if (child == nullptr || child->m_parent != this) return false;
  for (CFileNode** link = &m_firstChild; *link != nullptr; link = &(*link)->m_nextSibling) {
    if (*link == child) {
      *link = child->m_nextSibling;
      child->m_parent = nullptr;
      child->m_nextSibling = nullptr;
      return true;
    }
  }
  return false;
}

// ---- CFileSystemNode ----

CFileSystemNode::~CFileSystemNode() {
  m_firstSector = 0;
  m_sectorsPerCluster = 0;
  m_summary = {};
  m_nodeInfo = {};
}

bool CFileSystemNode::GetPosition(uint64_t& firstSector, uint32_t& sectorsPerCluster) const {
  firstSector = m_firstSector;
  sectorsPerCluster = m_sectorsPerCluster;
  return true;
}

void CFileSystemNode::SetPosition(uint64_t firstSector, uint32_t sectorsPerCluster) {
  m_firstSector = firstSector;
  m_sectorsPerCluster = sectorsPerCluster;
}

void CFileSystemNode::SetName(const char* name) { m_name = CutUtf8(name, kMaxNameLength); }

bool CFileSystemNode::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  out.U32(m_summary.files).U32(0).U64(m_summary.bytes).U64(0);
  out.U32(m_summary.compressedFiles).U32(0).U32(m_summary.encryptedFiles).U32(0);
  out.U64(m_firstSector).U32(m_sectorsPerCluster);
  out.I32(m_fileSystemType);
  out.I32(static_cast<int32_t>(m_name.size())).Bytes(m_name.data(), m_name.size());
  out.Flush();
  return true;
}

bool CFileSystemNode::Load(IRSData& reader) {
  SelectionSummary summary;
  summary.files = ReadU32(reader);
  ReadU32(reader);
  summary.bytes = ReadU64(reader);
  ReadU64(reader);
  summary.compressedFiles = ReadU32(reader);
  ReadU32(reader);
  summary.encryptedFiles = ReadU32(reader);
  ReadU32(reader);
  // Check states are not saved, so nothing is checked after a load, whatever the file says.
  const uint64_t firstSector = ReadU64(reader);
  const uint32_t sectorsPerCluster = ReadU32(reader);
  const int32_t type = ReadI32(reader);
  if (!IsFileSystemTypeCode(type)) ThrowStateError(RS_ERROR_BAD_DATA);
  const uint32_t nameLength = ReadU32(reader);
  std::string name = ReadText(reader, nameLength, kMaxNameLength);
  m_summary = summary;
  m_firstSector = firstSector;
  m_sectorsPerCluster = sectorsPerCluster;
  m_fileSystemType = type;
  m_name = std::move(name);
  return true;
}

void CFileSystemNode::ToggleCheck(CFileNode* node, bool onlyThisNode) {
  if (node == nullptr) return;
  IFileProperties* properties = node->GetFileProperties();
  const uint8_t state =
      (properties != nullptr && properties->GetCheckState() == kChecked) ? kNotChecked : kChecked;
  if (onlyThisNode) {
    if (properties != nullptr) properties->SetCheckState(state);
    return;
  }
  // One walk both counts the subtree as it was and sets the new state: each node is counted
  // before it is changed. Partition nodes inside the subtree (a "Raw Files" folder below a
  // partition, the partitions below a root) keep their own summaries, which follow too.
  const bool checked = state == kChecked;
  SelectionSummary fresh;
  Breadth(node, [&](CFileNode* n) {
    CountNode(n, fresh);
    if (IFileProperties* p = n->GetFileProperties()) p->SetCheckState(state);
    if (n != node && n->IsFileSystemNode())
      SetWhollyChecked(static_cast<CFileSystemNode*>(n)->m_summary, checked);
  });
  if (node->IsFileSystemNode()) ApplyToggle(static_cast<CFileSystemNode*>(node)->m_summary, fresh, checked);
  for (CFileNode* a = node->GetParent(); a != nullptr; a = a->GetParent()) {
    if (IFileProperties* p = a->GetFileProperties()) p->SetCheckState(ComputeFolderState(a));
    if (a->IsFileSystemNode()) ApplyToggle(static_cast<CFileSystemNode*>(a)->m_summary, fresh, checked);
  }
}

void CFileSystemNode::SetCheckOfNodes(const std::vector<CFileNode*>& nodes, bool checked) {
  const uint8_t state = checked ? kChecked : kNotChecked;
  // Each changed node's subtree is counted before it changes, and that count goes to every
  // partition node above it (a walk up without looking at siblings). The folders above are then
  // recomputed once each, the deepest first, so every folder sees its children's final states.
  std::vector<std::pair<size_t, CFileNode*>> ancestors;  // (depth, folder)
  std::vector<CFileNode*> seen;
  for (CFileNode* node : nodes) {
    if (node == nullptr) continue;
    const IFileProperties* own = node->GetFileProperties();
    if (own != nullptr && own->GetCheckState() == state) continue;
    SelectionSummary fresh;
    Breadth(node, [&](CFileNode* n) {
      CountNode(n, fresh);
      if (IFileProperties* p = n->GetFileProperties()) p->SetCheckState(state);
      if (n != node && n->IsFileSystemNode())
        SetWhollyChecked(static_cast<CFileSystemNode*>(n)->m_summary, checked);
    });
    if (node->IsFileSystemNode()) ApplyToggle(static_cast<CFileSystemNode*>(node)->m_summary, fresh, checked);
    for (CFileNode* a = node->GetParent(); a != nullptr; a = a->GetParent()) {
      if (a->IsFileSystemNode()) ApplyToggle(static_cast<CFileSystemNode*>(a)->m_summary, fresh, checked);
    }
    if (node->GetParent() != nullptr) seen.push_back(node->GetParent());
  }
  std::sort(seen.begin(), seen.end());
  seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  // Every ancestor of the collected parents, each once.
  for (CFileNode* parent : seen) {
    size_t depth = 0;
    for (CFileNode* a = parent->GetParent(); a != nullptr; a = a->GetParent()) ++depth;
    for (CFileNode* a = parent; a != nullptr; a = a->GetParent()) ancestors.emplace_back(depth--, a);
  }
  std::sort(ancestors.begin(), ancestors.end(), [](const auto& x, const auto& y) {
    return x.first != y.first ? x.first > y.first : x.second < y.second;
  });
  ancestors.erase(std::unique(ancestors.begin(), ancestors.end()), ancestors.end());
  for (const auto& entry : ancestors) {
    if (IFileProperties* p = entry.second->GetFileProperties())
      p->SetCheckState(ComputeFolderState(entry.second));
  }
}

uint8_t CFileSystemNode::SetNodeFlag(CFileNode* node, uint8_t value) {
  if (node == nullptr || node->GetFileProperties() == nullptr) return 0;
  return node->GetFileProperties()->SetFlagByte(value);
}

void CFileSystemNode::RecountSummary() {
  SelectionSummary fresh;
  Breadth(this, [&](CFileNode* n) { CountNode(n, fresh); });
  m_summary = fresh;
}

// ---- tree operations ----

CFileNode* CreateFileNode() { return CFileNode::CreateInstance(); }
CFileSystemNode* CreateFileSystemNode() { return CFileSystemNode::CreateInstance(); }
void DestroyFileNode(CFileNode* node) { delete node; }
void DestroyFileSystemNode(CFileSystemNode* node) { delete node; }

void FreeFileTree(CFileNode* root) {
  if (root == nullptr) return;
  if (root->GetParent() != nullptr) root->GetParent()->RemoveChild(root);
  std::deque<CFileNode*> queue{root};
  while (!queue.empty()) {
    CFileNode* node = queue.front();
    queue.pop_front();
    for (CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) queue.push_back(c);
    delete node->GetFileProperties();
    delete node;
  }
}

void MoveChildNodes(CFileNode* source, CFileNode* target) {
  if (source == nullptr || target == nullptr || source == target) return;
  while (CFileNode* child = source->GetFirstChild()) {
    source->RemoveChild(child);
    target->AddChild(child);
  }
}

uint8_t ComputeFolderState(const CFileNode* folder) {
  uint64_t children = 0, checked = 0, partly = 0;
  for (const CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    ++children;
    const IFileProperties* p = c->GetFileProperties();
    const uint8_t state = p != nullptr ? p->GetCheckState() : kNotChecked;
    if (state == kChecked)
      ++checked;
    else if (state == kPartlyChecked)
      ++partly;
  }
  if (checked == 0 && partly == 0) return kNotChecked;
  return checked == children ? kChecked : kPartlyChecked;
}

void UpdateFolderStates(CFileNode* node) {
  if (node == nullptr) return;
  if (IsFolderNode(node)) {
    // Folders in breadth-first order, descending through folders only; taken in reverse, every
    // folder comes after all the folders below it.
    std::vector<CFileNode*> folders{node};
    for (size_t i = 0; i < folders.size(); ++i) {
      for (CFileNode* c = folders[i]->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
        if (IsFolderNode(c)) folders.push_back(c);
      }
    }
    for (size_t i = folders.size(); i-- > 0;) {
      folders[i]->GetFileProperties()->SetCheckState(ComputeFolderState(folders[i]));
    }
  }
  if (node->IsFileSystemNode()) static_cast<CFileSystemNode*>(node)->RecountSummary();
}

void WalkSubtree(CFileNode* start, const std::function<void(CFileNode*)>& visit) { Breadth(start, visit); }
