#pragma once
// The picture analysers besides JPEG and TIFF. Each recognises its format in a file's first sector;
// the header-only ones (BMP, ICO/CUR, EMF, WMF) take the length from there, the others measure the
// file by walking its blocks, chunks or tables forward from the start.

#include "raw/IRawFileAnalyser.h"

// PNG: the chunk walk to the end of the IEND chunk.
class FilePNGAnalyser : public IRawFileAnalyser {
 public:
  FilePNGAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
  // Positions and chunk lengths above this end the walk: no PNG the carver keeps is larger.
  static constexpr uint64_t kLimit = 0x1400000;
};

// GIF 87a and 89a: colour tables, extension and image blocks up to the trailer.
class FileGIFAnalyser : public IRawFileAnalyser {
 public:
  FileGIFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
  // Bytes stepped over between blocks at most, looking for the next image.
  static constexpr uint64_t kMaxGap = 1024;
};

// Windows bitmaps with a 40- or 124-byte info header; the size is the header's file size.
class FileBMPAnalyser : public IRawFileAnalyser {
 public:
  FileBMPAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Photoshop documents, raw or run-length compressed.
class FilePSDAnalyser : public IRawFileAnalyser {
 public:
  FilePSDAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Paint Shop Pro images: a chain of "~BK" blocks after the header.
class FilePSPAnalyser : public IRawFileAnalyser {
 public:
  FilePSPAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Icons and cursors: the directory's entries give the size.
class FileICOAnalyser : public IRawFileAnalyser {
 public:
  FileICOAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Enhanced metafiles: the size is in the header record.
class FileEMFAnalyser : public IRawFileAnalyser {
 public:
  FileEMFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
};

// Windows metafiles, standard and placeable.
class FileWMFAnalyser : public IRawFileAnalyser {
 public:
  FileWMFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Corel Photo-Paint images: the object table gives the end.
class FileCPTAnalyser : public IRawFileAnalyser {
 public:
  FileCPTAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Canon CRW raw images: the file ends at the camera's description block.
class FileCRWAnalyser : public IRawFileAnalyser {
 public:
  FileCRWAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
  // How far the camera block is looked for; a file without one is given this size.
  static constexpr uint64_t kSearchLimit = 0x1400000;
};
