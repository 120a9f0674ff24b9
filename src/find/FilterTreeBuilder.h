#pragma once
// A reduced copy of a found-file tree: only the files a filter accepts, with the folders that lead
// to them, in the order of the source. Folders left empty by the filter and empty folders of the
// source are not copied. The copy's nodes are new, but they share the properties objects of the
// source's nodes; only the copy's root has properties of its own.
//
// The copy is made without recursion, so a tree of any depth (a damaged file system can chain
// folders thousands deep) costs heap, not stack.
//
// Who frees the properties: while both trees live, the source owns them. ReleaseSource frees the
// source and hands every shared properties object to the copy, which can then be freed whole with
// FreeFileTree like any tree; freeing both trees whole would free the shared objects twice.

#include "core/FileNode.h"

class IFileFilter;

class CFilterTreeBuilder {
 public:
  // The name of the copy's root until CopyRoot gives it the source's.
  static constexpr const char* kRootName = "Deleted Files";

  // Prepares the root of the copy; `filter` is not owned and must outlive the builder's use.
  explicit CFilterTreeBuilder(const IFileFilter* filter);
  // The result tree belongs to the caller whether or not CopyRoot ran.
  ~CFilterTreeBuilder() = default;

  // Fills the root from `source` and returns it: the root takes the source's name (on both the
  // node and its properties), position and file-system type. Null when the root could not be
  // prepared or there is no source.
  CFileSystemNode* CopyRoot(CFileSystemNode* source);
  CFileSystemNode* GetRoot() const { return m_root; }

  // Frees the source tree that `copy` was made from, except the properties objects the copy uses,
  // which from then on belong to the copy.
  static void ReleaseSource(CFileNode* source, CFileNode* copy);

 private:
  CFileSystemNode* m_root = nullptr;
  const IFileFilter* m_filter;
};
