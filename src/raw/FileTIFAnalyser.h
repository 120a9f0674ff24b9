#pragma once
// TIFF images and the camera raw files built on TIFF (Nikon NEF).
//
// The length comes from the first IFD: without a camera model it is where that IFD's entries and
// their values are reckoned to end; with a model (a camera file, whose IFD0 lies before the image
// data) it is the end of the last strip of IFD0 or of its second sub-IFD (the raw image of a NEF).
// A model beginning "NIKON" makes the file a NEF named after the camera.

#include <cstdint>
#include <string>

#include "raw/IRawFileAnalyser.h"

class FileTIFAnalyser : public IRawFileAnalyser {
 public:
  FileTIFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  std::string GetFirstInfoText() override { return m_firstInfo; }
  std::string GetSecondInfoText() override { return m_secondInfo; }
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint32_t kMaxEntries = 512;
  // Strip offsets read at most from one IFD's arrays.
  static constexpr uint32_t kMaxStrips = 65536;

 private:
  struct Field {
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;   // the value field as a 32-bit number: the data, or its offset
    uint8_t raw[4] = {};  // the value field as stored
    bool present = false;
  };
  struct Ifd;

  bool ReadIfd(class CRawSectorReader& reader, uint64_t offset, bool first, Ifd& out);
  uint64_t LargestStripEnd(class CRawSectorReader& reader, const Ifd& ifd);
  uint32_t FieldValue(const Field& f, const uint8_t* entry) const;

  std::string m_firstInfo;
  std::string m_secondInfo;
  bool m_bigEndian = false;
  uint32_t m_stripOffset = 0;
  uint32_t m_stripByteCount = 0;
  uint64_t m_largestEnd = 0;
};
