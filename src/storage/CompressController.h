#pragma once
// The imaging run: reads a sector range of a source device in chunks of 256 sectors, compresses
// each chunk as an independent block, and appends it to the current part file of a disk image
// (see ImageFile.h), starting a new part file when the part-size limit would be reached or the
// caller asks for one.
//
// Chunks are compressed on one worker thread per core while the calling thread reads the source
// and writes the results; the image on disk is the same as a one-thread run would make, chunk for
// chunk in order. All callbacks come on the calling thread.
//
// A run that makes the whole image returns true. A run that stops before the end returns false,
// and never counts as made: a cancel, a write that fails (a full or failing target), a part file
// that cannot be created, more parts than the header can count. What it wrote up to then is kept
// as a partial image, finalised so that it reads back like any image: it holds the chunks written
// in full, the first GetImagedSectorCount() sectors of the range, and nothing after them. The caller
// says so and may remove it (RemoveImageFiles). A run that stops before its first chunk, or whose
// partial image cannot be finalised, leaves no files. Sectors the source cannot read are stored as
// zeros, counted and logged; the run goes on past them.
//
// The image's files are created as ImageFile.h says: never through a link, and never over a file
// that is there already unless the caller says the user agreed (SetReplaceExisting).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/CompressCallBack.h"
#include "storage/Compressor.h"

class CImageFile;
class IStorageDevice;

class CCompressController {
 public:
  CCompressController();
  ~CCompressController();
  CCompressController(const CCompressController&) = delete;
  CCompressController& operator=(const CCompressController&) = delete;

  // `firstSector` and `sectorCount` as all ones (-1) mean from sector 0 and up to the device's end.
  // `diskNumber` is 255 for a partition or volume.
  void SetSource(IStorageDevice* source, const char* name, uint64_t firstSector, uint64_t sectorCount,
                 int diskNumber);
  // `type` 1 bzip2, 2 zlib, 3 LZMA, anything else stores chunks unchanged. `partSizeUnits` is the
  // part-size limit in 512-byte units; 0 or less means no limit (parts still stay below 4 GiB,
  // which the chunk table can address).
  void SetCompressParam(int type, int level, int partSizeUnits);
  void SetImageFilePath(const char* path, int length);
  void SetImageFilePath(const std::string& path) {
    SetImageFilePath(path.c_str(), static_cast<int>(path.size()));
  }
  // Whether files of the image that exist already (at the path set last) may be replaced. Set it
  // again, with the path, when the path changes during a run.
  void SetReplaceExisting(bool replace) { m_replace = replace; }
  // Threads compressing chunks; 0 (the default) means one per core.
  void SetThreadCount(unsigned threads) { m_threads = threads; }

  // Runs the imaging; true only when the whole image was written.
  bool Compress(ICompressCallBack* callback);

  // Why the last run failed ("cancelled" for a cancel); empty after a run that made its image.
  const std::string& GetErrorText() const { return m_error; }
  bool WasCancelled() const { return m_cancelled; }
  // Whether the last run stopped early and left a partial image, finalised and readable.
  bool HasPartialImage() const { return m_partial; }
  // The sectors of the source the image holds, from the range's first sector on: all of them after
  // a whole run, those of the chunks written after a partial one.
  uint64_t GetImagedSectorCount() const { return m_imagedSectors; }
  // The first sector of the range imaged, and how many sectors the range has.
  uint64_t GetFirstSector() const { return m_rangeFirst; }
  uint64_t GetRangeSectorCount() const { return m_rangeCount; }
  // Removes the files of the image the last run left, partial or whole (for a caller whose user
  // does not want it after all).
  void RemoveImageFiles();
  // Source sectors that could not be read in the last run (stored as zeros).
  uint64_t GetUnreadableSectorCount() const { return m_unreadable; }
  uint32_t GetPartsCreated() const { return m_partsCreated; }
  uint64_t GetTotalCompressedBytes() const { return m_totalBytes; }
  uint64_t GetChunkCount() const { return m_chunkIndex; }

 private:
  struct Run;
  bool CreateImage(int32_t sectorSize);
  bool StartNextPart();
  bool WriteChunk(const uint8_t* data, uint32_t stored, bool split);
  // Writes the header's totals for the parts not counted yet and flushes every file.
  bool FinishImage();
  // After a run that stopped early: finalises what was written, or removes it when nothing was or
  // it cannot be finalised.
  void KeepPartialImage();
  bool Fail(const std::string& text);
  void RemoveImage();
  uint64_t PartLimitBytes() const;

  std::unique_ptr<CImageFile> m_image;
  std::string m_path;
  // Where the run made the descriptor (m_path may name another place for later parts).
  std::string m_descriptorPath;
  // Every part file made by this run, where it was made.
  std::vector<std::string> m_partPaths;
  uint32_t m_partsCreated = 0;
  // Parts the header counts already: all but the newest while the run goes on.
  uint32_t m_recordedParts = 0;
  uint32_t m_chunksInPart = 0;
  uint64_t m_bytesInPart = 0;
  uint64_t m_totalBytes = 0;
  uint64_t m_chunkIndex = 0;
  // Chunks written in full.
  uint64_t m_chunksWritten = 0;
  IStorageDevice* m_source = nullptr;
  std::string m_sourceName;
  int32_t m_diskNumber = 255;
  int64_t m_firstSector = -1;
  int64_t m_sectorCount = -1;
  std::unique_ptr<ICompressor, void (*)(ICompressor*)> m_compressor{nullptr, ReleaseCompressor};
  int32_t m_type = 0;
  int64_t m_partSizeUnits = 0;
  int32_t m_level = 1;
  bool m_split = false;
  bool m_replace = false;

  unsigned m_threads = 0;
  std::string m_error;
  bool m_cancelled = false;
  bool m_partial = false;
  uint64_t m_imagedSectors = 0;
  uint64_t m_rangeFirst = 0;
  uint64_t m_rangeCount = 0;
  uint64_t m_unreadable = 0;
};
