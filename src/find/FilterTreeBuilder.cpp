#include "find/FilterTreeBuilder.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/FileProperties.h"
#include "core/MyFileProperties.h"
#include "find/FileFilter.h"

namespace {

// One folder of the source being copied: where its walk stands and the copies made of its children
// so far, in source order.
struct Frame {
  CFileNode* source;
  CFileNode* next;
  std::vector<CFileNode*> kept;
};

// Links `children` under `parent` in the order given: AddChild puts each at the head, so they go
// in from the last.
void AttachInOrder(CFileNode* parent, const std::vector<CFileNode*>& children) {
  for (auto it = children.rbegin(); it != children.rend(); ++it) parent->AddChild(*it);
}

CFileNode* CopyOf(CFileNode* source) {
  CFileNode* copy = CreateFileNode();
  copy->SetFileProperties(source->GetFileProperties());
  return copy;
}

// Copies what the filter keeps below `source` under `target`.
void CopyChildren(CFileNode* source, CFileNode* target, const IFileFilter& filter) {
  std::vector<Frame> stack;
  stack.push_back(Frame{source, source->GetFirstChild(), {}});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (CFileNode* child = top.next) {
      top.next = child->GetNextSibling();
      if (child->GetFirstChild()) {
        stack.push_back(Frame{child, child->GetFirstChild(), {}});  // `top` is no longer valid
        continue;
      }
      IFileProperties* properties = child->GetFileProperties();
      // A childless folder is empty: nothing in it to keep.
      if (properties && properties->IsFolder()) continue;
      if (filter.Accept(properties)) top.kept.push_back(CopyOf(child));
      continue;
    }
    Frame done = std::move(stack.back());
    stack.pop_back();
    if (stack.empty()) {
      AttachInOrder(target, done.kept);
    } else if (!done.kept.empty()) {
      CFileNode* folder = CopyOf(done.source);
      AttachInOrder(folder, done.kept);
      stack.back().kept.push_back(folder);
    }
  }
}

}  // namespace

CFilterTreeBuilder::CFilterTreeBuilder(const IFileFilter* filter) : m_filter(filter) {
  MyFileInfo info;
  info.name = kRootName;
  info.attributes = kAttributeFolder;
  info.validMask = kValidAttributes;
  m_root = CreateFileSystemNode();
  m_root->SetFileProperties(new CMyFileProperties(info));
  m_root->SetPosition(0, 1);
  m_root->SetFileSystemType(kFileSystemUnknown);
  FileSystemNodeInfo record;
  m_root->GetNodeInfo(record);
  const int32_t two = 2;
  std::memcpy(record.data, &two, sizeof two);
  m_root->SetNodeInfo(record);
}

CFileSystemNode* CFilterTreeBuilder::CopyRoot(CFileSystemNode* source) {
  if (!m_root || !source) return nullptr;
  if (IFileProperties* from = source->GetFileProperties())
    m_root->GetFileProperties()->SetName(from->GetName());
  m_root->SetName(source->GetName());
  if (m_filter) CopyChildren(source, m_root, *m_filter);
  uint64_t firstSector = 0;
  uint32_t sectorsPerCluster = 0;
  source->GetPosition(firstSector, sectorsPerCluster);
  m_root->SetPosition(firstSector, sectorsPerCluster);
  m_root->SetFileSystemType(source->GetFileSystemType());
  return m_root;
}

void CFilterTreeBuilder::ReleaseSource(CFileNode* source, CFileNode* copy) {
  if (!source) return;
  std::unordered_set<IFileProperties*> shared;
  if (copy)
    WalkSubtree(copy, [&shared](CFileNode* node) {
      if (node->GetFileProperties()) shared.insert(node->GetFileProperties());
    });
  // Unhook the shared objects from the source so that freeing it leaves them alone.
  WalkSubtree(source, [&shared](CFileNode* node) {
    if (shared.count(node->GetFileProperties())) node->SetFileProperties(nullptr);
  });
  FreeFileTree(source);
}
