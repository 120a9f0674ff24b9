#include "core/FileSystemTree.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IDIRBuildCallback.h"
#include "core/StateIo.h"
#include "platform/Log.h"

using namespace corvale;

namespace {

constexpr int32_t kPlainNodeKind = 0;
constexpr int32_t kFileSystemNodeKind = 1;
constexpr int32_t kEndOfChildren = -1;

bool IsFolderNode(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p != nullptr && p->IsFolder();
}

// The percentage shown while a tree is saved or restored: one step at a time from 40 to 45, then
// the share of folders done, never beyond 90.
class TreeProgress {
 public:
  TreeProgress(IDIRBuildCallback* callback, bool reading) : m_callback(callback), m_reading(reading) {}

  void FolderTaken(uint64_t done, uint64_t queued) {
    if (m_callback == nullptr) return;
    int64_t candidate;
    if (m_last <= 44) {
      candidate = m_last + 1;
    } else if (m_reading) {
      candidate = 40 + static_cast<int64_t>(50 * done / (done + queued));
    } else {
      // The queue is empty at the last folder: that is the end, not a division by zero.
      candidate = queued == 0 ? 90 : 40 + static_cast<int64_t>(50 * done / (2 * queued));
    }
    candidate = std::min<int64_t>(candidate, 90);
    if (candidate > m_last) {
      m_last = static_cast<int32_t>(candidate);
      m_callback->StepTo(m_last);
    }
  }

  void NodeDone() {
    if (m_callback != nullptr) m_callback->Poll();
  }

 private:
  IDIRBuildCallback* m_callback;
  bool m_reading;
  int32_t m_last = 40;
};

void WriteNode(IRSData& writer, const CFileNode* node) {
  WriteI32(writer, node->IsFileSystemNode() ? kFileSystemNodeKind : kPlainNodeKind);
  if (node->IsFileSystemNode()) node->Save(writer);
  SavePropertiesRecord(writer, node->GetFileProperties());
}

}  // namespace

bool WriteFileSystemTree(CFileSystemNode* root, IRSData& writer, IDIRBuildCallback* progress) {
  if (root == nullptr) return false;
  try {
    if (!writer.BeginSection(kFileSystemTreeSection)) return false;
    WriteNode(writer, root);
    TreeProgress meter(progress, false);
    std::deque<CFileNode*> queue{root};
    std::vector<CFileNode*> children;
    uint64_t done = 0;
    while (!queue.empty()) {
      CFileNode* folder = queue.front();
      queue.pop_front();
      meter.FolderTaken(++done, queue.size());
      children.clear();
      for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
        children.push_back(c);
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        WriteNode(writer, *it);
        if (IsFolderNode(*it)) queue.push_back(*it);
        meter.NodeDone();
      }
      WriteI32(writer, kEndOfChildren);
    }
    writer.EndSection();
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
  return true;
}

CFileSystemNode* ReadFileSystemTree(IRSData& reader, IDIRBuildCallback* progress) {
  try {
    if (!reader.BeginSection(kFileSystemTreeSection)) return nullptr;
  } catch (IRSException& e) {
    // A state file without a tree is not an error of the file.
    if (e.GetCode() == RS_ERROR_NO_SUCH_SECTION) return nullptr;
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
  CFileSystemNode* root = nullptr;
  try {
    if (ReadI32(reader) != kFileSystemNodeKind) ThrowStateError(RS_ERROR_BAD_DATA);
    root = CreateFileSystemNode();
    root->Load(reader);
    root->SetFileProperties(LoadPropertiesRecord(reader).release());
    TreeProgress meter(progress, true);
    std::deque<CFileNode*> queue{root};
    uint64_t done = 0;
    while (!queue.empty()) {
      CFileNode* folder = queue.front();
      queue.pop_front();
      meter.FolderTaken(++done, queue.size());
      for (;;) {
        const int32_t kind = ReadI32(reader);
        if (kind == kEndOfChildren) break;
        CFileNode* child;
        if (kind == kPlainNodeKind) {
          child = folder->AddChild(CreateFileNode());
        } else if (kind == kFileSystemNodeKind) {
          child = folder->AddChild(CreateFileSystemNode());
          child->Load(reader);
        } else {
          ThrowStateError(RS_ERROR_BAD_DATA);
        }
        child->SetFileProperties(LoadPropertiesRecord(reader).release());
        if (IsFolderNode(child)) queue.push_back(child);
        meter.NodeDone();
      }
    }
    reader.EndSection();
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    FreeFileTree(root);
    throw;
  } catch (...) {
    FreeFileTree(root);
    throw;
  }
  return root;
}
