#pragma once
// CRawFileCoverage: keeps carving from multiplying the device. A signature found inside a file that
// was already found is either a file stored in that file (a preview in a photo, a picture in an
// archive) or the same bytes seen again (a header repeated in every sector of a damaged or
// pre-filled disk); carved at full length, the second kind makes one file per sector, each as long
// as the first, and the output grows with the square of the device.
//
// Files are taken in ascending order of their start. A file that starts at or past the end of every
// file taken so far is a first-level file and is always taken; first-level files never overlap, so
// together they are at most the device. A file that starts inside one already taken is taken only
// while the bytes of all such files stay within the bytes of the first-level files taken so far, so
// that everything taken is at most twice the device. An embedded file smaller than the file holding
// it always finds room; repeated copies run the room out and are passed over, as other carvers skip
// past a file they found. A measurement that overruns the room spends it, so that measuring, too,
// stays in proportion to the device.

#include <cstdint>

namespace corvale {

class CRawFileCoverage {
 public:
  explicit CRawFileCoverage(uint32_t sectorSize) : m_sectorSize(sectorSize == 0 ? 512 : sectorSize) {}

  // Whether a file starting at `startSector` may still be taken, asked before it is measured: a
  // file inside those taken is worth measuring only while room is left.
  bool MayTake(uint64_t startSector) const { return startSector >= m_end || m_room > 0; }

  // Takes the file of `size` bytes at `startSector` when the rule above allows it, and says whether
  // it did.
  bool Take(uint64_t startSector, uint64_t size);

  // One past the last sector of the files taken.
  uint64_t End() const { return m_end; }

 private:
  uint64_t m_sectorSize;
  uint64_t m_end = 0;
  uint64_t m_room = 0;
};

}  // namespace corvale
