#pragma once
// The "Raw Files" folder that every partition's directory build hangs under its root: the files
// the signature search found over clusters the partition's files do not use. The builder lives
// with the RAW engine; the file-system engines reach it (and the found files' types, which the
// partition rebuilds count as evidence) through these hooks, which the RAW engine registers when
// the program starts.

class IStorageDevice;
class IIsClusterUsed;
class IDIRBuildCallback;
class CFileSystemNode;
class CRawFileInfoList;
class ISignatureResults;

struct RawFilesFolderHooks {
  // Builds the folder of the found files in `files` whose start the map does not report as used
  // (every file when the map is null), in the calling thread. Null when RAW recovery is off or
  // nothing is left.
  CFileSystemNode* (*buildFolder)(IStorageDevice* device, CRawFileInfoList* files,
                                  IIsClusterUsed* usedClusters, IDIRBuildCallback* callback) = nullptr;
  // The found files as the rebuilds ask about them (start sector -> type).
  const ISignatureResults* (*signatureResults)(const CRawFileInfoList* files) = nullptr;
};

void RegisterRawFilesFolderHooks(const RawFilesFolderHooks& hooks);

// Null without a registered builder or without found files.
CFileSystemNode* BuildRawFilesFolderOver(IStorageDevice* device, CRawFileInfoList* files,
                                         IIsClusterUsed* usedClusters, IDIRBuildCallback* callback);
// Null without a registered engine or without found files.
const ISignatureResults* GetSignatureResults(const CRawFileInfoList* files);
