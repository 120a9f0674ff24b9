#include "storage/CompressController.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "storage/IStorageDevice.h"
#include "storage/ImageFile.h"

using namespace corvale::image;

namespace {

// A chunk on its way from the source to the image.
struct Slot {
  enum State { kFree, kQueued, kDone };
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
  uint32_t rawBytes = 0;
  uint32_t stored = 0;
  State state = kFree;
};

std::string ErrnoText(int e) { return e ? std::strerror(e) : "unknown error"; }

}  // namespace

// The compressing workers and the chunks in flight. Chunk c uses slot c % slots.size().
struct CCompressController::Run {
  std::mutex mutex;
  std::condition_variable work;  // a chunk was queued, or the run ends
  std::condition_variable done;  // a chunk was compressed
  std::deque<size_t> queue;
  std::vector<Slot> slots;
  std::vector<std::thread> workers;
  bool ending = false;

  void Worker(int type, int level) {
    std::unique_ptr<ICompressor, void (*)(ICompressor*)> compressor(CreateCompressor(type),
                                                                    ReleaseCompressor);
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex);
        work.wait(lock, [&] { return ending || !queue.empty(); });
        if (queue.empty()) return;
        index = queue.front();
        queue.pop_front();
      }
      Slot& s = slots[index];
      s.stored = corvale::CompressBlock(compressor.get(), level, s.in.data(), s.rawBytes, s.out.data(),
                                        static_cast<uint32_t>(s.out.size()));
      {
        std::lock_guard<std::mutex> lock(mutex);
        s.state = Slot::kDone;
      }
      done.notify_all();
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ending = true;
      queue.clear();
    }
    work.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
  }

  ~Run() { Stop(); }
};

CCompressController::CCompressController() = default;

CCompressController::~CCompressController() = default;

void CCompressController::SetSource(IStorageDevice* source, const char* name, uint64_t firstSector,
                                    uint64_t sectorCount, int diskNumber) {
  m_source = source;
  m_sourceName = name ? name : "";
  m_firstSector = static_cast<int64_t>(firstSector);
  m_sectorCount = static_cast<int64_t>(sectorCount);
  m_diskNumber = diskNumber;
}

void CCompressController::SetCompressParam(int type, int level, int partSizeUnits) {
  m_type = type;
  m_level = level;
  m_partSizeUnits = partSizeUnits;
  m_compressor.reset(CreateCompressor(type));
}

void CCompressController::SetImageFilePath(const char* path, int length) {
  m_path.clear();
  if (path != nullptr && length > 0) m_path.assign(path, strnlen(path, static_cast<size_t>(length)));
}

uint64_t CCompressController::PartLimitBytes() const {
  // The chunk table holds 32-bit offsets within a part, so no part may reach 4 GiB.
  constexpr uint64_t kAddressable = 0xFFFFFFFFull;
  if (m_partSizeUnits <= 0) return kAddressable;
  return std::min<uint64_t>(static_cast<uint64_t>(m_partSizeUnits) * 512, kAddressable);
}

bool CCompressController::Fail(const std::string& text) {
  if (m_error.empty()) {
    m_error = text;
    LogError("Imaging failed: %s", text.c_str());
  }
  return false;
}

void CCompressController::RemoveImage() {
  // The files where they were made (parts may lie in another folder than the descriptor when the
  // path was changed during the run), and only those this run made: a file that stood under one of
  // their names and was not to be replaced stays.
  if (m_image) m_image->RemoveCreatedFiles();
  m_image.reset();
  m_partPaths.clear();
}

bool CCompressController::CreateImage(int32_t sectorSize) {
  m_descriptorPath = m_path;
  m_image = std::make_unique<CImageFile>(m_path);
  m_image->SetReplaceExisting(m_replace);
  if (!m_image->OpenDescriptor(3))
    return Fail("cannot create the image file " + m_path + ": " + m_image->LastErrorText());
  if (!m_image->WriteHeader(m_sourceName.c_str(), m_diskNumber, m_type, sectorSize))
    return Fail("cannot write the image file " + m_path + ": " + ErrnoText(m_image->LastErrno()));
  if (!m_image->OpenPartList(3))
    return Fail("cannot create the part list " + PartListPath(m_path) + ": " + m_image->LastErrorText());
  const std::string part0 = PartFilePath(m_path, 0);
  m_partPaths.assign(1, part0);
  if (!m_image->OpenPart(0, 3)) {
    // A part file half made still has to go.
    m_partsCreated = 1;
    return Fail("cannot create the part file " + part0 + ": " + m_image->LastErrorText());
  }
  m_partsCreated = 1;
  m_recordedParts = 0;
  if (!m_image->AddToPartList(part0))
    return Fail("cannot write the part list " + PartListPath(m_path) + ": " +
                ErrnoText(m_image->LastErrno()));
  return true;
}

bool CCompressController::StartNextPart() {
  if (m_partsCreated >= kMaxParts)
    return Fail("the image needs more than " + std::to_string(kMaxParts) +
                " part files; choose a larger part size");
  const std::string current = (m_partPaths.empty() ? m_path : m_partPaths.back());
  if (!m_image->Flush(CImageFile::kDataFile))
    return Fail("cannot write the part file " + current + ": " + ErrnoText(m_image->LastErrno()));
  if (!m_image->WriteTotals(m_partsCreated, m_chunksInPart))
    return Fail("cannot write the image file " + m_image->GetPath() + ": " + ErrnoText(m_image->LastErrno()));
  // The part is closed and counted: whatever happens to the next one, the image holds it whole.
  m_recordedParts = m_partsCreated;
  m_chunksInPart = 0;
  m_bytesInPart = 0;
  const std::string next = PartFilePath(m_path, m_partsCreated);
  m_partPaths.push_back(next);
  // The path, and whether its files may be replaced, may have changed since the last part.
  m_image->SetReplaceExisting(m_replace);
  const bool created = m_image->OpenPart(static_cast<int32_t>(m_partsCreated), 3, next);
  const bool listed = created && m_image->AddToPartList(next);
  if (!listed) {
    const std::string error = created ? ErrnoText(m_image->LastErrno()) : m_image->LastErrorText();
    // A part that could not be made or listed holds nothing: it goes (only when this run made it),
    // and the image ends with the parts counted.
    m_image->CloseDataFile();
    if (created) m_image->RemoveLastCreatedFile();
    m_partPaths.pop_back();
    return Fail((created ? "cannot write the part list " + PartListPath(m_path)
                         : "cannot create the part file " + next) +
                ": " + error);
  }
  ++m_partsCreated;
  return true;
}

bool CCompressController::WriteChunk(const uint8_t* data, uint32_t stored, bool split) {
  // A part never stays empty: the chunk that would cross the limit, or that the caller wants in a
  // new part, opens the next part only when the current one holds something.
  const bool full = m_bytesInPart + stored + kHeaderSize >= PartLimitBytes();
  if ((full || split) && m_chunksInPart > 0 && !StartNextPart()) return false;
  // The counts move on only once the chunk is written whole, so that a run stopped by a failed
  // write still describes exactly the chunks before it.
  const uint64_t endInPart = m_bytesInPart + stored;
  uint8_t entry[4];
  for (int i = 0; i < 4; ++i) entry[i] = static_cast<uint8_t>(endInPart >> (8 * i));
  if (!m_image->WriteAt(entry, kHeaderSize + 4 * m_chunkIndex, 4, CImageFile::kDescriptor))
    return Fail("cannot write the image file " + m_path + ": " + ErrnoText(m_image->LastErrno()));
  if (!m_image->WriteAt(data, kHeaderSize + m_bytesInPart, stored, CImageFile::kDataFile))
    return Fail("cannot write the part file " + (m_partPaths.empty() ? m_path : m_partPaths.back()) + ": " +
                ErrnoText(m_image->LastErrno()));
  ++m_chunksInPart;
  m_totalBytes += stored;
  m_bytesInPart = endInPart;
  return true;
}

bool CCompressController::FinishImage() {
  const std::string part = m_partPaths.empty() ? m_path : m_partPaths.back();
  if (m_recordedParts < m_partsCreated) {
    if (!m_image->Flush(CImageFile::kDataFile))
      return Fail("cannot write the part file " + part + ": " + ErrnoText(m_image->LastErrno()));
    if (!m_image->WriteTotals(m_partsCreated, m_chunksInPart))
      return Fail("cannot write the image file " + m_path + ": " + ErrnoText(m_image->LastErrno()));
    m_recordedParts = m_partsCreated;
  }
  if (!m_image->Flush(CImageFile::kDescriptor))
    return Fail("cannot write the image file " + m_path + ": " + ErrnoText(m_image->LastErrno()));
  if (!m_image->FlushPartList())
    return Fail("cannot write the part list " + PartListPath(m_path) + ": " +
                ErrnoText(m_image->LastErrno()));
  m_image->CloseDataFile();
  return true;
}

void CCompressController::KeepPartialImage() {
  const char* why = m_cancelled ? "cancelled" : "stopped by a failure";
  if (!m_image || m_chunksWritten == 0) {
    LogInfo("Imaging %s before any sector was imaged; the image %s was removed", why,
            m_descriptorPath.c_str());
    RemoveImage();
    return;
  }
  const std::string cause = m_error;
  m_error.clear();
  const bool finished = FinishImage();
  const std::string finishing = m_error;
  m_error = cause;
  if (!finished) {
    LogError("Imaging %s; the partial image %s could not be finished (%s) and was removed", why,
             m_descriptorPath.c_str(), finishing.c_str());
    if (m_error.empty()) m_error = finishing;
    RemoveImage();
    return;
  }
  // The files are closed: the image is the user's now, to open or to remove. The object stays, as
  // it knows which files this run made, should the user choose to remove them.
  m_image->CloseFiles();
  m_partial = true;
  m_imagedSectors = std::min<uint64_t>(m_chunksWritten * kSectorsPerChunk, m_rangeCount);
  LogInfo(
      "Imaging %s: the partial image %s holds sectors %llu..%llu of the source, %llu of the %llu sectors "
      "to image",
      why, m_descriptorPath.c_str(), static_cast<unsigned long long>(m_rangeFirst),
      static_cast<unsigned long long>(m_rangeFirst + m_imagedSectors - 1),
      static_cast<unsigned long long>(m_imagedSectors), static_cast<unsigned long long>(m_rangeCount));
}

void CCompressController::RemoveImageFiles() {
  if (m_descriptorPath.empty()) return;
  RemoveImage();
  LogInfo("The %simage %s was removed", m_partial ? "partial " : "", m_descriptorPath.c_str());
  m_partial = false;
  m_imagedSectors = 0;
  m_descriptorPath.clear();
}

bool CCompressController::Compress(ICompressCallBack* callback) {
  ICompressCallBack none;
  if (callback == nullptr) callback = &none;
  m_error.clear();
  m_cancelled = false;
  m_partial = false;
  m_imagedSectors = 0;
  m_rangeFirst = m_rangeCount = 0;
  m_unreadable = 0;
  m_partsCreated = m_recordedParts = m_chunksInPart = 0;
  m_bytesInPart = m_totalBytes = m_chunkIndex = m_chunksWritten = 0;
  m_partPaths.clear();
  m_descriptorPath.clear();
  m_image.reset();

  if (m_path.empty()) return Fail("no image file was named");
  if (m_source == nullptr) return Fail("no source to image");
  const int32_t sectorSize = m_source->GetSectorSize();
  if (!IsValidImageSectorSize(sectorSize))
    return Fail("the source's sector size " + std::to_string(sectorSize) + " cannot be imaged");
  const int64_t deviceSectors = m_source->GetSectorCount();
  const uint64_t first = m_firstSector < 0 ? 0 : static_cast<uint64_t>(m_firstSector);
  uint64_t count = m_sectorCount < 0
                       ? (deviceSectors > static_cast<int64_t>(first) ? deviceSectors - first : 0)
                       : static_cast<uint64_t>(m_sectorCount);
  if (deviceSectors < 0 || first > static_cast<uint64_t>(deviceSectors) ||
      count > static_cast<uint64_t>(deviceSectors) - first)
    return Fail("the sectors to image lie beyond the end of the source");
  const uint64_t chunks = (count + kSectorsPerChunk - 1) / kSectorsPerChunk;
  if (chunks > 0xFFFFFFFFull) return Fail("the source is too large for one image");
  m_rangeFirst = first;
  m_rangeCount = count;

  const bool made = [&] {
    if (!CreateImage(sectorSize)) return false;
    const uint32_t chunkBytes = kSectorsPerChunk * static_cast<uint32_t>(sectorSize);
    unsigned threads = m_threads ? m_threads : std::max(1u, std::thread::hardware_concurrency());
    Run run;
    run.slots.resize(2 * threads + 2);
    for (Slot& s : run.slots) {
      s.in.resize(chunkBytes);
      s.out.resize(StoredChunkCapacity(chunkBytes));
    }
    for (unsigned t = 0; t < threads; ++t)
      run.workers.emplace_back([&run, this] { run.Worker(m_type, m_level); });

    callback->SetRange(0, static_cast<int64_t>(chunks));
    uint64_t nextRead = 0;
    uint64_t sector = first;
    bool stopReading = false;
    while (m_chunkIndex < chunks) {
      // Keep every slot busy: read ahead while the workers compress.
      while (!stopReading && nextRead < chunks && nextRead - m_chunkIndex < run.slots.size()) {
        if (callback->IsCancelled()) {
          m_cancelled = true;
          stopReading = true;
          break;
        }
        Slot& s = run.slots[nextRead % run.slots.size()];
        const uint64_t left = count - (sector - first);
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kSectorsPerChunk, left));
        s.rawBytes = n * static_cast<uint32_t>(sectorSize);
        std::memset(s.in.data(), 0, s.rawBytes);
        if (!m_source->ReadSectors(s.in.data(), sector, n)) {
          // One failing sector must not cost the rest of the chunk: read it again sector by sector.
          uint64_t badStart = 0, badRun = 0;
          for (uint32_t k = 0; k < n; ++k) {
            uint8_t* at = s.in.data() + static_cast<size_t>(k) * sectorSize;
            if (m_source->ReadSectors(at, sector + k, 1)) continue;
            std::memset(at, 0, static_cast<size_t>(sectorSize));
            ++m_unreadable;
            if (badRun && badStart + badRun == sector + k) {
              ++badRun;
              continue;
            }
            if (badRun)
              LogError("Imaging: sectors %llu..%llu could not be read and are stored as zeros",
                       static_cast<unsigned long long>(badStart),
                       static_cast<unsigned long long>(badStart + badRun - 1));
            badStart = sector + k;
            badRun = 1;
          }
          if (badRun)
            LogError("Imaging: sectors %llu..%llu could not be read and are stored as zeros",
                     static_cast<unsigned long long>(badStart),
                     static_cast<unsigned long long>(badStart + badRun - 1));
        }
        sector += n;
        {
          std::lock_guard<std::mutex> lock(run.mutex);
          s.state = Slot::kQueued;
          run.queue.push_back(nextRead % run.slots.size());
        }
        run.work.notify_one();
        ++nextRead;
      }
      if (m_chunkIndex == nextRead) break;  // cancelled, nothing left in flight

      Slot& s = run.slots[m_chunkIndex % run.slots.size()];
      {
        std::unique_lock<std::mutex> lock(run.mutex);
        run.done.wait(lock, [&] { return s.state == Slot::kDone; });
      }
      if (stopReading) {
        // Cancelled: what is in flight only has to finish before the buffers go.
        s.state = Slot::kFree;
        ++m_chunkIndex;
        continue;
      }
      m_split = callback->NeedNewPart();
      if (!WriteChunk(s.out.data(), s.stored, m_split)) return false;
      m_chunksWritten = m_chunkIndex + 1;
      s.state = Slot::kFree;
      callback->AddWritten(s.stored);
      callback->SetPos(static_cast<int64_t>(m_chunkIndex));
      ++m_chunkIndex;
      callback->Step();
    }
    run.Stop();
    if (m_cancelled) return false;

    if (!FinishImage()) return false;
    m_imagedSectors = count;
    if (m_unreadable)
      LogError("Imaging: %llu sectors of the source could not be read and are stored as zeros",
               static_cast<unsigned long long>(m_unreadable));
    return true;
  }();
  if (!made) {
    if (m_cancelled && m_error.empty()) m_error = "cancelled";
    // A failure before the image existed (nothing created) leaves nothing to keep.
    if (m_image) {
      KeepPartialImage();
    } else {
      RemoveImage();
    }
  }
  return made;
}
