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
  uint64_t m_free = 0;
  uint64_t m_taken = 0;
  uint64_t m_blockBytes = 1;
};
