#pragma once
// A compressed disk image (see ImageFile.h) read as a sector device, so that every search and
// file-system engine scans an image exactly as it scans a drive.
//
// The header and the whole chunk table are read and checked once, when the device is made: a part
// count beyond the header's room, per-part counts that do not add up to the total, a table shorter
// than the chunk count, or a chunk whose stored length is 0, runs backwards or exceeds what the
// writer can produce make the image unusable (IsUsable false, no sectors).
//
// A read that touches a chunk that cannot be had (its part file missing or too short, its data not
// decompressing to a whole chunk) fills that chunk's sectors with zeros, logs the chunk and returns
// false, so callers with bad-sector handling can tell; it never hands out garbage or silent zeros.
// The sectors past the last chunk read as zeros.

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/Compressor.h"
#include "storage/IStorageDevice.h"

class CImageFile;

class CImageFileDeviceWithDecompress : public IStorageDevice {
 public:
  explicit CImageFileDeviceWithDecompress(const char* descriptorPath);
  explicit CImageFileDeviceWithDecompress(const std::string& path)
      : CImageFileDeviceWithDecompress(path.c_str()) {}
  ~CImageFileDeviceWithDecompress() override;

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  // Total chunks × 256: an image of a source that was not a multiple of 256 sectors reads as
  // rounded up to one, the extra sectors as zeros.
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override;
  bool Open() override { return true; }
  bool Close() override { return true; }

  // True when the descriptor opened and its header and chunk table passed the checks.
  bool IsUsable() const { return m_usable; }
  // Why the image is not usable, or why the last CheckImageParts failed.
  const std::string& GetProblem() const { return m_problem; }

  // True when the descriptor exists and every part file the header counts is there (in the part
  // list, or beside the descriptor) and long enough for the chunks it should hold. The problem found
  // is in GetProblem(), naming the part.
  bool CheckImageParts();
  // The part that holds chunk `chunk`; -1 beyond all parts.
  int32_t FindPart(uint64_t chunk) const;
  int32_t GetSourceDiskNumber();
  // 260 bytes: the source name, NUL-terminated.
  void GetSourceName(char* buffer);
  int32_t GetCompressionType() const { return m_type; }
  uint32_t GetPartCount() const { return static_cast<uint32_t>(m_partChunks.size()); }
  const std::string& GetPath() const { return m_path; }

 private:
  struct PartFile {
    bool looked = false;
    int fd = -1;
    uint64_t size = 0;
  };
  bool Load();
  // Opens part `part` on first use (under the lock); false when it is missing.
  bool EnsurePart(int32_t part);
  // Fills `out` (256 × S bytes) with chunk `chunk` from its part, already looked for; false (and
  // zeros) when it cannot be had. Touches nothing but its arguments and what Load and EnsurePart
  // settled, so several threads may decode chunks at once.
  bool DecodeChunk(uint64_t chunk, IDecompressor* decompressor, uint8_t* stored, uint8_t* out) const;
  // Decodes the chunks not held yet, several at a time when there are several, into the cache.
  void FetchChunks(const std::vector<uint64_t>& chunks);

  std::mutex m_mutex;
  std::unique_ptr<CImageFile> m_image;
  std::unique_ptr<IDecompressor, void (*)(IDecompressor*)> m_decompressor{nullptr, ReleaseDecompressor};
  std::string m_path;
  std::string m_problem;
  bool m_usable = false;
  int32_t m_type = 0;
  int32_t m_sectorSize = 512;
  uint64_t m_sectorCount = 0;
  std::vector<uint32_t> m_partChunks;
  // The chunk table: end of each chunk's data in its part, from the part's data start.
  std::vector<uint32_t> m_chunkEnds;
  std::vector<uint64_t> m_partFirstChunk;
  std::vector<PartFile> m_parts;
  // The chunks decompressed last, most recent first: a directory walk reads a few sectors at a time
  // from the same chunks. A chunk that could not be had is not kept.
  struct CachedEntry {
    uint64_t chunk;
    std::vector<uint8_t> bytes;
  };
  std::list<CachedEntry> m_cache;
};
