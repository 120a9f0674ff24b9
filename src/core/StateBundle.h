#pragma once
// The result bundle (".rsf"): the scan-state files (".rdf") of the program folder packed into one
// file, to hand a scan to a later run or another machine, and unpacked again.
//
// Layout (little-endian): magic "CMBK", checksum, version 5800, 4 reserved bytes, the total size
// (header and all files), the entry count (0..10), count + 1 entries of 280 bytes (a 260-byte
// zero-terminated name without folder, 4 reserved bytes, the size, the offset of the file's bytes),
// the last entry all zero; then the files' bytes in entry order. The checksum is the wrapping sum of
// the CRC-32 values (polynomial 0x1770, MSB first, initial 0, no final XOR) of the header, taken
// with the checksum field 0, and of each file's data in pieces of 4096 bytes.
//
// Export writes under a temporary name and renames the finished bundle into place, so a failed
// export leaves no file that looks complete. Import checks the whole bundle (names, bounds and
// checksum) before it writes anything, unpacks under temporary names and only then replaces the
// state files: a damaged bundle changes nothing.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One CRC-32 step over `n` bytes with the bundle's polynomial, continuing from `crc`.
uint32_t BundleCrc32(uint32_t crc, const void* data, size_t n);

class CStateBundle {
 public:
  static constexpr uint32_t kMagic = 0x4B424D43;  // "CMBK"
  static constexpr uint32_t kVersion = 5800;
  static constexpr size_t kEntrySize = 280;
  static constexpr size_t kNameSize = 260;
  static constexpr size_t kFixedHeaderSize = 32;
  static constexpr uint64_t kMaxEntries = 10;
  static constexpr size_t kPieceSize = 4096;
  // Message ids shown to the user: a failed export, and a bundle that cannot be imported.
  static constexpr int32_t kExportFailedMessage = 61238;
  static constexpr int32_t kWrongBundleMessage = 61239;

  struct Entry {
    std::string Name;
    uint64_t Size = 0;
    uint64_t Offset = 0;
  };

  // Shows a message by string id to the user; stands in for the owner window.
  using MessageSink = std::function<void(int32_t stringId)>;

  // With `gather`, collects the ".rdf" files of `folder` (the program folder when empty), in name
  // order. `folder` is also where Load unpacks.
  CStateBundle(bool gather, std::string folder = {}, MessageSink messages = {});

  // Writes the bundle of the gathered files to `path`; false (and no file at `path` changed) when
  // any file cannot be read in full or the bundle cannot be written. The folder of `path` is opened
  // through no link of another user; the bundle belongs to the person it is made for (as recovered
  // files do) and replaces what stood at `path` by a rename, never by writing through it.
  bool Save(const std::string& path);
  // Checks the bundle at `path` and unpacks its files into the folder, replacing state files of the
  // same names. A bundle that is not ours, lies about its entries or fails its checksum shows
  // message 61239, fails, and leaves the folder as it was.
  bool Load(const std::string& path);

  const std::vector<Entry>& GetEntries() const { return m_entries; }
  uint64_t GetTotalSize() const { return m_totalSize; }
  uint64_t GetHeaderSize() const { return m_headerSize; }

 private:
  void Gather();
  void Show(int32_t id) const;
  bool Refuse(const char* why) const;

  std::string m_folder;
  MessageSink m_messages;
  std::vector<Entry> m_entries;
  uint64_t m_totalSize = 0;
  uint64_t m_headerSize = 0;
  uint32_t m_checksum = 0;
  uint32_t m_storedChecksum = 0;
};
