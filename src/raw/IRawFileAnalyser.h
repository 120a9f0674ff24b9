#pragma once
// The interface of every file-type analyser of RAW carving.
//
// An analyser looks at the first sector of a candidate file (IsFileHeader) and, when it recognises
// its format there, sets the file's type id on the record; formats whose length the first sector
// already tells set the size too. The others are measured later by ComputeFileSize, which reads
// forward from the file's start with a CRawSectorReader.
//
// Header tests read at most the first kRawHeaderBytes bytes of the sector (the smallest sector
// size), so they are safe for any device.

#include <bitset>
#include <cstdint>
#include <string>

class CRawFileInfo;
class IStorageDevice;

constexpr size_t kRawHeaderBytes = 512;

// The values of a sector's first byte for which a header test can answer TRUE.
using RawLeadBytes = std::bitset<256>;

class IRawFileAnalyser {
 public:
  IRawFileAnalyser() = default;
  virtual ~IRawFileAnalyser();
  IRawFileAnalyser(const IRawFileAnalyser&) = delete;
  IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;

  // Measures the file and sets its size; the base version leaves the record as it is (for the
  // formats whose header test already sets the size).
  virtual bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device);
  // `sector` holds at least kRawHeaderBytes bytes. TRUE when the sector starts a file of this
  // analyser's format; the record's type id (and, for header-only formats, its size) is then set.
  virtual bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) = 0;
  // Texts about the file that ComputeFileSize last measured (camera model, date ...).
  virtual std::string GetFirstInfoText();
  virtual std::string GetSecondInfoText();

  // The first bytes a sector must start with for IsFileHeader to accept it. The search offers a
  // sector only to the analysers whose set holds its first byte, so the set must hold every value
  // that the header test can accept; the base version holds all 256 (an analyser that looks
  // elsewhere than at offset 0 keeps it).
  virtual RawLeadBytes GetLeadBytes() const;

  // The default id of this analyser, or kNoRawFileType for one without a type of its own.
  int32_t GetTypeId() const { return m_typeId; }

 protected:
  int32_t m_typeId = -1;
};

// A lead-byte set of the given values.
RawLeadBytes LeadBytesOf(std::initializer_list<uint8_t> values);
