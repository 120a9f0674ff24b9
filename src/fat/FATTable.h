#pragma once
// The file allocation table (FORMAT.md, "FAT copies"): one copy read whole from a device, the pair
// of copies the directory builds use, and the tests that tell the start of a copy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class IStorageDevice;

// What GetNextCluster answers besides a cluster number: every table maps its own marks to these.
inline constexpr uint32_t kFatBadCluster = 0x0FFFFFF7;
inline constexpr uint32_t kFatEndOfChain = 0x0FFFFFF8;  // and anything above it
// A FAT12 end mark (0xFFF) reads as all ones; it lies above kFatEndOfChain as well.
inline constexpr uint32_t kFat12LastCluster = 0xFFFFFFFF;

class IFATTable {
 public:
  virtual ~IFATTable() = default;
  // The entry of `cluster`: the next cluster of its chain, 0 for a free cluster, kFatBadCluster,
  // or a value from kFatEndOfChain up at a chain's end. 0 as well for a cluster the table has no
  // entry for.
  virtual uint32_t GetNextCluster(uint32_t cluster) const = 0;
};

// One FAT copy on a device, read whole when its size is plausible for its type.
class IRealFATTable : public IFATTable {
 public:
  ~IRealFATTable() override;
  IRealFATTable(const IRealFATTable&) = delete;
  IRealFATTable& operator=(const IRealFATTable&) = delete;

  // Whether the copy was read and looks like a FAT: the media and end marks of its first two
  // entries, and (FAT16 and FAT32) no entry naming a cluster the copy has no entry for, naming 1 or
  // itself, no two chains joining and no chain running in a circle.
  virtual bool IsValid() const = 0;

  uint64_t GetFirstSector() const { return m_firstSector; }
  uint32_t GetSectorCount() const { return m_sectorCount; }
  uint32_t GetEntryCount() const { return m_entryCount; }
  uint32_t GetSectorSize() const { return m_sectorSize; }
  bool HasBuffer() const { return !m_buffer.empty(); }

 protected:
  // `divisor` is the bytes per entry the entry count is figured with (FAT12 lookups are bounded
  // by the buffer instead). The copy is read when `sectors` lies in [minSectors, maxSectors].
  IRealFATTable(IStorageDevice* device, uint64_t firstSector, uint32_t sectors, uint32_t divisor,
                uint32_t minSectors, uint32_t maxSectors);

  // The chain test of FAT16 and FAT32 copies over the raw entries (`entry(i)` for i below the
  // entry count; chains stop at values below 2 or above `lastCluster`).
  template <typename Entry>
  bool ChainsAreSound(Entry entry, uint32_t lastCluster) const;

  IStorageDevice* m_device = nullptr;
  uint64_t m_firstSector = 0;
  uint32_t m_sectorCount = 0;
  uint32_t m_entryCount = 0;
  uint32_t m_sectorSize = 512;
  std::vector<uint8_t> m_buffer;  // empty when the size test failed or the read did
};

class CFAT12Table : public IRealFATTable {
 public:
  // Read when the copy has 1 to 12 sectors.
  CFAT12Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors);
  uint32_t GetNextCluster(uint32_t cluster) const override;
  bool IsValid() const override;
};

class CFAT16Table : public IRealFATTable {
 public:
  // Read when the copy has 12/k to 256/k sectors, k = sector size / 512.
  CFAT16Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors);
  uint32_t GetNextCluster(uint32_t cluster) const override;
  bool IsValid() const override;
  uint16_t RawEntry(uint32_t index) const;
};

class CFAT32Table : public IRealFATTable {
 public:
  // Read when the copy has 256/k to 128000/k sectors, k = sector size / 512.
  CFAT32Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors);
  uint32_t GetNextCluster(uint32_t cluster) const override;
  bool IsValid() const override;
  // The entry without its four reserved upper bits.
  uint32_t Entry(uint32_t index) const;
};

// The two copies of a volume's FAT, asked in turn: the first when it was taken, else the second,
// else nothing (0).
class CDoubleFATTable : public IFATTable {
 public:
  CDoubleFATTable(std::unique_ptr<IRealFATTable> first, std::unique_ptr<IRealFATTable> second)
      : m_first(std::move(first)), m_second(std::move(second)) {}
  uint32_t GetNextCluster(uint32_t cluster) const override;

  const IRealFATTable* GetFirst() const { return m_first.get(); }
  const IRealFATTable* GetSecond() const { return m_second.get(); }
  bool HasTable() const { return m_first || m_second; }

 private:
  std::unique_ptr<IRealFATTable> m_first;
  std::unique_ptr<IRealFATTable> m_second;
};

// A table of FAT type `type` (0, 1 or 2) over the copy at `firstSector`, only when it is valid.
std::unique_ptr<IRealFATTable> CreateFATTable(IStorageDevice* device, int32_t type, uint64_t firstSector,
                                              uint32_t sectors);
// Both copies as the builds use them: the first copy when `useFirst` and it is valid; the second
// only when `useSecond` and the first was not taken. Always returns a table, possibly with neither.
std::unique_ptr<CDoubleFATTable> CreateDoubleFATTable(IStorageDevice* device, uint64_t fatStart, int32_t type,
                                                      uint32_t sectorsPerFat, bool useFirst, bool useSecond);

// A cluster number a chain may hold: 2 to 0x0FFFFFEF.
bool IsValidFATCluster(uint64_t cluster);

// Whether `buffer` (at least 8 bytes) begins like a FAT16 or FAT32 copy: media 0xF8 in entry 0 and
// the end mark in entry 1, whose two volume-state bits (clean shutdown, no disk error) may be clear.
bool IsFATTableStartSector(const uint8_t* buffer, size_t length);
