#pragma once
// The found-file tree: partition or volume nodes (CFileSystemNode) at the top, folders and files
// (CFileNode) below, each carrying its IFileProperties.
//
// A node owns neither its children nor its properties: destroying a node frees only what the node
// itself holds. A tree is freed whole with FreeFileTree. Every walk over a tree is iterative, since
// trees rebuilt from damaged file systems can be many thousands of levels deep.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/FileSystemCode.h"

class IFileProperties;
class IRSData;

// Selection counters of a subtree. "Files" are nodes without the folder attribute; "checked"
// means check state 2.
struct SelectionSummary {
  uint32_t files = 0;
  uint32_t checkedFiles = 0;
  uint64_t bytes = 0;
  uint64_t checkedBytes = 0;
  uint32_t compressedFiles = 0;  // attribute 0x800
  uint32_t checkedCompressedFiles = 0;
  uint32_t encryptedFiles = 0;  // attribute 0x40
  uint32_t checkedEncryptedFiles = 0;
  bool operator==(const SelectionSummary&) const = default;
};

// An opaque record a partition node keeps for its owner; never saved.
struct FileSystemNodeInfo {
  int32_t kind = 0;
  uint8_t data[260] = {};
};

class CFileNode {
 public:
  // Code of "no file system recognised", answered by a node with no partition node above it.
  static constexpr int32_t kFileSystemNotRecognised = kFileSystemUnknown;

  static CFileNode* CreateInstance() { return new CFileNode(); }
  CFileNode() = default;
  CFileNode(const CFileNode&) = delete;
  CFileNode& operator=(const CFileNode&) = delete;

  // Clears the node's links; frees nothing else.
  virtual ~CFileNode();
  virtual bool IsFileSystemNode() const { return false; }
  // The position of the nearest partition node above this one; false (and zeros) when none.
  virtual bool GetPosition(uint64_t& firstSector, uint32_t& sectorsPerCluster) const;
  // The type of the nearest partition node, this one included; kFileSystemNotRecognised when none.
  virtual int32_t GetFileSystemType() const;
  // A plain node has no saved form of its own.
  virtual bool Save(IRSData&) const { return false; }
  virtual bool Load(IRSData&) { return false; }

  // Sets the child's parent and puts it at the head of the child list; returns the child.
  CFileNode* AddChild(CFileNode* child);
  // Unlinks a child and clears its parent and next-sibling links; false when it is not a child.
  bool RemoveChild(CFileNode* child);

  CFileNode* GetParent() const { return m_parent; }
  CFileNode* GetFirstChild() const { return m_firstChild; }
  CFileNode* GetNextSibling() const { return m_nextSibling; }
  IFileProperties* GetFileProperties() const { return m_properties; }
  void SetFileProperties(IFileProperties* properties) { m_properties = properties; }
  void* GetUserData() const { return m_userData; }
  void SetUserData(void* data) { m_userData = data; }

 private:
  CFileNode* m_parent = nullptr;
  CFileNode* m_firstChild = nullptr;
  CFileNode* m_nextSibling = nullptr;
  IFileProperties* m_properties = nullptr;
  void* m_userData = nullptr;
};

class CFileSystemNode : public CFileNode {
 public:
  static constexpr size_t kMaxNameLength = 40;

  static CFileSystemNode* CreateInstance() { return new CFileSystemNode(); }
  CFileSystemNode() = default;
  ~CFileSystemNode() override;

  bool IsFileSystemNode() const override { return true; }
  bool GetPosition(uint64_t& firstSector, uint32_t& sectorsPerCluster) const override;
  int32_t GetFileSystemType() const override { return m_fileSystemType; }
  // Summary (its checked counters written as 0: check states are not saved), position, type and
  // name, little-endian.
  bool Save(IRSData& writer) const override;
  // Reads what Save wrote. A name longer than 40 bytes or a type code outside 0..7 is bad data.
  bool Load(IRSData& reader) override;

  virtual void SetPosition(uint64_t firstSector, uint32_t sectorsPerCluster);
  virtual void SetFileSystemType(int32_t code) { m_fileSystemType = code; }
  virtual void GetNodeInfo(FileSystemNodeInfo& out) const { out = m_nodeInfo; }
  virtual void SetNodeInfo(const FileSystemNodeInfo& info) { m_nodeInfo = info; }
  // Flips the node between checked and not checked. With `onlyThisNode` only its own state
  // changes; otherwise its whole subtree follows, its ancestors take the tri-state of their
  // children and every partition node on the way keeps its summary in step.
  virtual void ToggleCheck(CFileNode* node, bool onlyThisNode);
  // Gives every node of `nodes` (each with its subtree) the state checked or not checked, as
  // ToggleCheck does for one node, but recomputes each ancestor's tri-state once for the whole set:
  // ticking the 100,000 files of one folder walks that folder's children once, not once per file.
  // Nodes already in the wanted state are left alone; nodes must not lie below one another.
  void SetCheckOfNodes(const std::vector<CFileNode*>& nodes, bool checked);
  // Sets the flag byte of the node's properties and returns the old one (0 without properties).
  virtual uint8_t SetNodeFlag(CFileNode* node, uint8_t value);
  virtual void GetSummary(SelectionSummary& out) const { out = m_summary; }
  // Counts the whole subtree into the summary; check states are left as they are.
  virtual void RecountSummary();

  // Keeps at most the first 40 bytes (never cutting a UTF-8 character in two).
  void SetName(const char* name);
  const char* GetName() const { return m_name.c_str(); }
  int32_t GetNameLength() const { return static_cast<int32_t>(m_name.size()); }

 private:
  SelectionSummary m_summary;
  FileSystemNodeInfo m_nodeInfo;
  uint64_t m_firstSector = 0;
  uint32_t m_sectorsPerCluster = 0;
  int32_t m_fileSystemType = kFileSystemNotRecognised;
  std::string m_name;
};

CFileNode* CreateFileNode();
CFileSystemNode* CreateFileSystemNode();
// Delete one node through its destructor; null is ignored. Children and properties stay.
void DestroyFileNode(CFileNode* node);
void DestroyFileSystemNode(CFileSystemNode* node);

// Frees a tree (or a subtree, which is first unlinked from its parent) breadth-first: every node
// with its properties object.
void FreeFileTree(CFileNode* root);

// Moves every child of `source` to the head of `target`'s children, one by one from the first, so
// they end up in reverse order.
void MoveChildNodes(CFileNode* source, CFileNode* target);

// Recomputes the check state of every folder below `node` (and of `node` when it is a folder)
// from its children, bottom-up, then recounts `node`'s summary when it is a partition node.
void UpdateFolderStates(CFileNode* node);

// The tri-state of a folder from its direct children: 0 when none is checked or partly checked,
// 2 when all are checked, else 1.
uint8_t ComputeFolderState(const CFileNode* folder);

// Breadth-first walk of a subtree, the start node first, children in list order.
void WalkSubtree(CFileNode* start, const std::function<void(CFileNode*)>& visit);
