#include "storage/ImageFileDeviceWithDecompress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/HandleFile.h"
#include "platform/Log.h"
#include "storage/ImageFile.h"

using namespace corvale::image;

namespace {

// Chunks kept decoded after a read.
constexpr size_t kCachedChunks = 8;
// Chunks decoded together at most; a larger request is served in batches of this many.
constexpr uint64_t kBatchChunks = 32;

}  // namespace

CImageFileDeviceWithDecompress::CImageFileDeviceWithDecompress(const char* descriptorPath) {
  if (descriptorPath != nullptr) m_path = descriptorPath;
  m_usable = Load();
  if (!m_usable) {
    m_sectorCount = 0;
    LogError("Disk image %s cannot be read: %s", m_path.c_str(), m_problem.c_str());
  }
}

CImageFileDeviceWithDecompress::~CImageFileDeviceWithDecompress() {
  for (PartFile& f : m_parts)
    if (f.fd >= 0) ::close(f.fd);
}

bool CImageFileDeviceWithDecompress::Load() {
  m_image = std::make_unique<CImageFile>(m_path);
  if (m_path.empty() || !m_image->OpenDescriptor(0)) {
    m_problem = "the image file cannot be opened: " + std::string(std::strerror(m_image->LastErrno()));
    return false;
  }
  const uint64_t size = m_image->GetDescriptorSize();
  if (size < kHeaderSize) {
    m_problem = "the image file is shorter than its header";
    return false;
  }
  m_sectorSize = m_image->GetSectorSize();
  m_type = m_image->GetCompressionType();
  const uint32_t parts = m_image->GetPartCount();
  const uint32_t total = m_image->GetTotalChunks();
  if (parts > kMaxParts) {
    m_problem = "the header counts " + std::to_string(parts) + " part files, more than it has room for";
    return false;
  }
  m_partChunks.assign(parts, 0);
  if (parts && !m_image->GetPartChunkCounts(m_partChunks.data(), parts * 4)) {
    m_problem = "the header cannot be read";
    return false;
  }
  uint64_t sum = 0;
  for (uint32_t n : m_partChunks) {
    m_partFirstChunk.push_back(sum);
    sum += n;
  }
  if (sum != total) {
    m_problem = "the part files' chunk counts add up to " + std::to_string(sum) + ", the header says " +
                std::to_string(total);
    return false;
  }
  if (size < kHeaderSize + 4ull * total) {
    m_problem = "the chunk table is shorter than the " + std::to_string(total) + " chunks of the header";
    return false;
  }
  m_chunkEnds.resize(total);
  std::vector<uint8_t> table(4ull * total);
  for (uint64_t at = 0; at < table.size();) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(table.size() - at, 1u << 20));
    if (!m_image->ReadAt(table.data() + at, kHeaderSize + at, piece, CImageFile::kDescriptor)) {
      m_problem = "the chunk table cannot be read";
      return false;
    }
    at += piece;
  }
  const uint32_t capacity = StoredChunkCapacity(kSectorsPerChunk * static_cast<uint32_t>(m_sectorSize));
  for (uint32_t p = 0, chunk = 0; p < parts; ++p) {
    uint32_t start = 0;
    for (uint32_t k = 0; k < m_partChunks[p]; ++k, ++chunk) {
      const uint8_t* e = table.data() + 4ull * chunk;
      const uint32_t end = e[0] | e[1] << 8 | e[2] << 16 | static_cast<uint32_t>(e[3]) << 24;
      if (end <= start || end - start > capacity) {
        m_problem = "chunk " + std::to_string(chunk) + " has an impossible length in the chunk table";
        return false;
      }
      m_chunkEnds[chunk] = end;
      start = end;
    }
  }
  m_sectorCount = static_cast<uint64_t>(total) * kSectorsPerChunk;
  m_decompressor.reset(CreateDecompressor(m_type));
  m_parts.assign(parts, PartFile{});
  return true;
}

int64_t CImageFileDeviceWithDecompress::GetSectorCount() { return static_cast<int64_t>(m_sectorCount); }

int32_t CImageFileDeviceWithDecompress::GetSectorSize() { return m_image ? m_sectorSize : 512; }

int32_t CImageFileDeviceWithDecompress::FindPart(uint64_t chunk) const {
  uint64_t end = 0;
  for (size_t p = 0; p < m_partChunks.size(); ++p) {
    end += m_partChunks[p];
    if (chunk < end) return static_cast<int32_t>(p);
  }
  return -1;
}

int32_t CImageFileDeviceWithDecompress::GetSourceDiskNumber() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_image ? m_image->GetSourceDiskNumber() : kNotAWholeDisk;
}

void CImageFileDeviceWithDecompress::GetSourceName(char* buffer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::memset(buffer, 0, 260);
  if (m_image) m_image->GetSourceName(buffer);
}

bool CImageFileDeviceWithDecompress::CheckImageParts() {
  std::lock_guard<std::mutex> lock(m_mutex);
  struct stat st;
  if (m_path.empty() || ::stat(m_path.c_str(), &st) != 0) {
    m_problem = "the image file " + m_path + " does not exist";
    return false;
  }
  if (!m_usable) return false;
  const std::string list = PartListPath(m_path);
  if (!CHandleFile(list, 0).IsOpen()) {
    m_problem = "the part list " + list + " cannot be opened";
    return false;
  }
  for (uint32_t p = 0; p < m_partChunks.size(); ++p) {
    const std::string path = m_image->FindPartPath(static_cast<int32_t>(p), false);
    if (path.empty()) {
      m_problem = "the part list names no file for part " + std::to_string(p + 1);
      return false;
    }
    std::string why;
    const int fd = OpenPartFile(m_path, p, path, O_RDONLY, &why);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      m_problem = "part file " + std::to_string(p + 1) + " (" + path + ") is missing or refused: " + why;
      return false;
    }
    ::close(fd);
    const uint64_t needed =
        kHeaderSize + (m_partChunks[p] ? m_chunkEnds[m_partFirstChunk[p] + m_partChunks[p] - 1] : 0);
    if (static_cast<uint64_t>(st.st_size) < needed) {
      m_problem = "part file " + std::to_string(p + 1) + " (" + path +
                  ") is truncated: " + std::to_string(st.st_size) + " bytes of " + std::to_string(needed);
      return false;
    }
  }
  // A part that was missing may have been put back since: the next read looks for it again.
  for (PartFile& f : m_parts)
    if (f.fd < 0) f.looked = false;
  m_problem.clear();
  return true;
}

bool CImageFileDeviceWithDecompress::EnsurePart(int32_t part) {
  PartFile& f = m_parts[static_cast<size_t>(part)];
  if (!f.looked) {
    f.looked = true;
    const std::string path = m_image->FindPartPath(part);
    struct stat st;
    std::string why;
    if (!path.empty()) f.fd = OpenPartFile(m_path, static_cast<uint32_t>(part), path, O_RDONLY, &why);
    if (f.fd >= 0 && ::fstat(f.fd, &st) == 0) f.size = static_cast<uint64_t>(st.st_size);
    if (f.fd < 0)
      LogError("Disk image %s: part file %d is missing; its chunks read as zeros%s%s", m_path.c_str(),
               part + 1, why.empty() ? "" : ": ", why.c_str());
  }
  return f.fd >= 0;
}

bool CImageFileDeviceWithDecompress::DecodeChunk(uint64_t chunk, IDecompressor* decompressor, uint8_t* stored,
                                                 uint8_t* out) const {
  const uint32_t raw = kSectorsPerChunk * static_cast<uint32_t>(m_sectorSize);
  std::memset(out, 0, raw);
  const int32_t part = FindPart(chunk);
  if (part < 0 || m_parts[static_cast<size_t>(part)].fd < 0) return false;
  const PartFile& file = m_parts[static_cast<size_t>(part)];
  const uint32_t start = chunk == m_partFirstChunk[part] ? 0 : m_chunkEnds[chunk - 1];
  const uint32_t length = m_chunkEnds[chunk] - start;
  const uint64_t offset = kHeaderSize + static_cast<uint64_t>(start);
  bool read = offset + length <= file.size;
  for (uint32_t done = 0; read && done < length;) {
    const ssize_t got = ::pread(file.fd, stored + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    read = got > 0;
    if (read) done += static_cast<uint32_t>(got);
  }
  if (!read) {
    LogError("Disk image %s: part file %d is truncated; chunk %llu reads as zeros", m_path.c_str(), part + 1,
             static_cast<unsigned long long>(chunk));
    return false;
  }
  const bool last = chunk + 1 == m_chunkEnds.size();
  const auto wholeSectors = [&](uint32_t n) { return n > 0 && n % static_cast<uint32_t>(m_sectorSize) == 0; };
  // A chunk that compression could not shorten is stored as it is, at its raw length: all 256
  // sectors, or a whole number of sectors for the last chunk. Anything shorter must be one complete
  // stream that gives back such a chunk.
  bool good = false;
  if (length == raw || !decompressor) {
    good = length == raw || (last && wholeSectors(length));
    if (good) std::memcpy(out, stored, length);
  } else {
    bool decompressed = false;
    const uint32_t produced = corvale::DecompressBlock(decompressor, stored, length, out, raw, &decompressed);
    good = decompressed && (produced == raw || (last && wholeSectors(produced)));
    if (!good && last && wholeSectors(length)) {
      std::memset(out, 0, raw);
      std::memcpy(out, stored, length);
      good = true;
    }
  }
  if (!good) {
    std::memset(out, 0, raw);
    LogError("Disk image %s: chunk %llu in part file %d does not decompress; it reads as zeros",
             m_path.c_str(), static_cast<unsigned long long>(chunk), part + 1);
  }
  return good;
}

void CImageFileDeviceWithDecompress::FetchChunks(const std::vector<uint64_t>& chunks) {
  const size_t raw = kSectorsPerChunk * static_cast<size_t>(m_sectorSize);
  const uint32_t capacity = StoredChunkCapacity(static_cast<uint32_t>(raw));
  for (uint64_t c : chunks) {
    const int32_t part = FindPart(c);
    if (part >= 0) EnsurePart(part);
  }
  std::vector<std::vector<uint8_t>> decoded(chunks.size());
  std::vector<char> good(chunks.size(), 0);
  for (auto& d : decoded) d.resize(raw);
  // One decompressor and one buffer of stored bytes per thread; chunks are taken in turn.
  std::atomic<size_t> next{0};
  const auto work = [&](IDecompressor* decompressor) {
    std::vector<uint8_t> stored(capacity);
    for (size_t i; (i = next.fetch_add(1)) < chunks.size();)
      good[i] = DecodeChunk(chunks[i], decompressor, stored.data(), decoded[i].data());
  };
  const size_t threads =
      std::min<size_t>(chunks.size(), m_decompressor ? std::max(1u, std::thread::hardware_concurrency()) : 1);
  std::vector<std::thread> helpers;
  std::vector<std::unique_ptr<IDecompressor, void (*)(IDecompressor*)>> own;
  for (size_t t = 1; t < threads; ++t) {
    own.emplace_back(CreateDecompressor(m_type), ReleaseDecompressor);
    helpers.emplace_back(work, own.back().get());
  }
  work(m_decompressor.get());
  for (std::thread& t : helpers) t.join();
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (!good[i]) continue;
    m_cache.push_front({chunks[i], std::move(decoded[i])});
  }
}

bool CImageFileDeviceWithDecompress::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_usable || buffer == nullptr) return false;
  if (firstSector > m_sectorCount || count > m_sectorCount) return false;
  const size_t s = static_cast<size_t>(m_sectorSize);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t inside = std::min(count, m_sectorCount - firstSector);
  bool ok = true;
  uint64_t sector = firstSector;
  uint64_t left = inside;
  while (left > 0) {
    // The chunks of this request up to the cache's size, decoded together, then copied out.
    const uint64_t firstChunk = sector / kSectorsPerChunk;
    const uint64_t lastChunk = (sector + left - 1) / kSectorsPerChunk;
    const uint64_t batch = std::min<uint64_t>(lastChunk - firstChunk + 1, kBatchChunks);
    std::vector<uint64_t> missing;
    for (uint64_t c = firstChunk; c < firstChunk + batch; ++c) {
      bool held = false;
      for (const CachedEntry& e : m_cache) held = held || e.chunk == c;
      if (!held) missing.push_back(c);
    }
    if (!missing.empty()) FetchChunks(missing);
    for (uint64_t c = firstChunk; c < firstChunk + batch; ++c) {
      const uint64_t within = sector % kSectorsPerChunk;
      const uint64_t take = std::min<uint64_t>(kSectorsPerChunk - within, left);
      const uint8_t* data = nullptr;
      for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->chunk != c) continue;
        m_cache.splice(m_cache.begin(), m_cache, it);
        data = m_cache.front().bytes.data();
        break;
      }
      if (data) {
        std::memcpy(out, data + within * s, take * s);
      } else {
        std::memset(out, 0, take * s);
        ok = false;
      }
      out += take * s;
      sector += take;
      left -= take;
    }
    // Only the most recent chunks stay.
    while (m_cache.size() > kCachedChunks) m_cache.pop_back();
  }
  std::memset(out, 0, (count - inside) * s);
  return ok;
}
