#pragma once
// What a step that shows a found-file tree offers the step before it: the tree to show. The
// receiver takes the tree over (it frees it when its own step is released or given another tree).

class CFileSystemNode;

class IDirectoryTreeReceiver {
 public:
  virtual ~IDirectoryTreeReceiver() = default;
  virtual void SetDirectoryTree(CFileSystemNode* root) = 0;
};
