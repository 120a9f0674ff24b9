#pragma once
// Keeps a recovery from filling the file system it writes to. Whatever writes recovered data (the
// file recovery, a carving writer) asks before each piece whether it still fits; the free space is
// read with fstatvfs once and then only again when the bytes taken since could have used it up, or
// after a stretch of writing long enough for another program to have filled the disk meanwhile.
//
// The free space counted is what an unprivileged user may still use (f_bavail): the blocks a file
// system keeps back for root stay untouched, although the recovery runs as root.

#include <cstdint>
#include <string>

class CTargetSpace {
 public:
  // statfs type numbers of the file systems that cannot keep holes: FAT of every width (vfat and
  // msdos report the same number) and exFAT.
  static constexpr long kMsdosFileSystemType = 0x4d44;
  static constexpr long kExfatFileSystemType = 0x2011BAB0;
  // Gives the statfs type number of the file system `fd` lies on, or -1 when it cannot be told.
  using FileSystemTypeProbe = long (*)(int fd);
  // Replaces how the type is found (fstatfs); null puts fstatfs back. For tests, whose machines may
  // have no FAT driver to mount a real target with.
  static void SetFileSystemTypeProbe(FileSystemTypeProbe probe);

  // Bytes of writing after which the free space is read again even when it seemed ample.
  static constexpr uint64_t kRecheckBytes = 256ull << 20;

  CTargetSpace() = default;
  // `fd`: any descriptor on the target file system (the target folder's); it stays owned by the caller.
  explicit CTargetSpace(int fd) : m_fd(fd) {}
  void Attach(int fd) {
    m_fd = fd;
    m_known = false;
  }

  // True when `bytes` more still fit; with `take` they are counted as written. Without a
  // descriptor, or when the file system cannot tell its free space, everything fits.
  bool Fits(uint64_t bytes, bool take);
  // False when the target file system cannot keep a hole in a file (FAT, exFAT): it writes zeros
  // in its place, which take space like data. True without a descriptor.
  bool KeepsHoles();
  // The free bytes at the last look, less what was taken since.
  uint64_t Free() const { return m_free > m_taken ? m_free - m_taken : 0; }
  // "Not enough free space on the target disk for %s: %llu bytes needed, %llu free" as one line.
  std::string Describe(const char* what, uint64_t needed) const;

 private:
  bool Look();
  uint64_t Blocks(uint64_t bytes) const;

  int m_fd = -1;
  bool m_known = false;
  bool m_unlimited = false;
  bool m_keepsHoles = true;
  uint64_t m_free = 0;
  uint64_t m_taken = 0;
  uint64_t m_blockBytes = 1;
};
