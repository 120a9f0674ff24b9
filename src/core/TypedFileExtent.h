#pragma once
// Named files that a partition scan saw in directory entries, typed by their extension, and the
// count of how many of them start exactly where the signature search found a file of the same
// type: evidence that a rebuilt partition's geometry is right.

#include <cstddef>
#include <cstdint>
#include <vector>

class CSearchedPartitionInfo;

// The files found by signature, as the partition rebuilds ask about them.
class ISignatureResults {
 public:
  virtual ~ISignatureResults() = default;
  // The type id of the file found starting at device sector `startSector`; false when none starts
  // there.
  virtual bool FindFileType(uint64_t startSector, int32_t& typeId) const = 0;
};

class CTypedFileExtent {
 public:
  static constexpr uint16_t kUnknownType = 0;
  static constexpr int64_t kNone = -1;

  CTypedFileExtent() = default;
  CTypedFileExtent(uint16_t fileType, int64_t firstCluster, int64_t entrySector)
      : m_fileType(fileType), m_firstCluster(firstCluster), m_entrySector(entrySector) {}

  // Takes the type from the name's extension: the name must be longer than 2 characters, have a
  // "." after its first character, and 1 to 4 characters after its last "."; the extension is one
  // of the built-in types' (any case). Fails, changing nothing, when no type is found or either
  // number is negative. `length` counts characters (UTF-16 units, or bytes of a narrow name).
  bool SetFromUnicodeName(const char16_t* name, uint8_t length, int64_t firstCluster, int64_t entrySector);
  bool SetFromAnsiName(const char* name, uint8_t length, int64_t firstCluster, int64_t entrySector);

  uint16_t GetFileType() const { return m_fileType; }
  int64_t GetFirstCluster() const { return m_firstCluster; }
  int64_t GetEntrySector() const { return m_entrySector; }

 private:
  bool Assign(uint16_t type, int64_t firstCluster, int64_t entrySector);

  uint16_t m_fileType = kUnknownType;
  int64_t m_firstCluster = kNone;
  int64_t m_entrySector = kNone;
};

class CTypedFileExtentList {
 public:
  void Clear();
  void Add(const CTypedFileExtent& extent);
  // Adds the file only when its name gives a known type and both numbers are valid.
  bool AddFromAnsiName(const char* name, uint8_t length, int64_t firstCluster, int64_t entrySector);

  // For each extent whose directory entry lies inside the partition (entry sectors from its start
  // sector up to start + sector count), the file's data sector is first cluster x sectors per
  // cluster + start sector; when that lies inside the partition and the signature search found a
  // file of the same type starting there, the partition's files-match count grows by one. The
  // walk stops at the first extent whose entry lies at or beyond the partition's end: extents are
  // added in ascending sector order as a scan meets them. Returns the number added.
  int64_t CountSignatureMatches(const ISignatureResults& results, CSearchedPartitionInfo& partition) const;

  size_t GetCount() const { return m_extents.size(); }
  const CTypedFileExtent& operator[](size_t i) const { return m_extents[i]; }

 private:
  std::vector<CTypedFileExtent> m_extents;
  // Whether the entry sectors ascend; then the walk can start at the partition instead of at the
  // first extent, which matters with thousands of candidates and millions of extents.
  bool m_ascending = true;
};
