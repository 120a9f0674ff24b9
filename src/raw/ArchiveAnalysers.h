#pragma once
// The archive and container analysers. ZIP, RAR, TAR and LZH are measured by walking their records
// from the start; CAB and CHM take the length from their header; a GZIP stream tells no length and
// is given the largest size a carved file may have.

#include "raw/IRawFileAnalyser.h"

// ZIP archives and the formats built on them: the record walk to the end of the central directory.
// The first entry's name tells an Office Open XML document or a CorelDRAW drawing; the part names of
// an Office document then tell a Word, Excel or PowerPoint file.
class FileZIPAnalyser : public IRawFileAnalyser {
 public:
  FileZIPAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint32_t kMaxMethod = 10;
  static constexpr uint32_t kMaxLocalName = 1040;

 private:
  // Set from the first local header of the file last measured.
  bool m_officeOpenXml = false;
  bool m_corelDraw = false;
};

// RAR archives of versions 1.5 to 4: the block walk to the end-of-archive block.
class FileRARAnalyser : public IRawFileAnalyser {
 public:
  FileRARAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// POSIX tar archives: 512-byte headers, each followed by its member's data. The header test looks
// at offset 257, so every first byte may start one.
class FileTARAnalyser : public IRawFileAnalyser {
 public:
  FileTARAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
};

// LHA archives with -lh0- (stored) or -lh5- members: the header chain. The method sits at offset 2,
// after the header's size byte, so every first byte may start one.
class FileLZHAnalyser : public IRawFileAnalyser {
 public:
  FileLZHAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
};

// Cabinet files of format version 1.3; the size is the header's cabinet size.
class FileCABAnalyser : public IRawFileAnalyser {
 public:
  FileCABAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Compiled HTML help files; the size is in the header section after the 96-byte header.
class FileCHMAnalyser : public IRawFileAnalyser {
 public:
  FileCHMAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// GZIP streams (deflate): no length can be known without inflating, so the file is given the
// largest size a carved file may have, cut at the device's end.
class FileGZAnalyser : public IRawFileAnalyser {
 public:
  FileGZAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};
