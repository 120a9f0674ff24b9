#pragma once
// The font, CAD and vector-graphics analysers. An AutoCAD drawing is sized by one of three methods
// chosen by its version text; DXF drawings and FreeHand 11 files end with a known trailer;
// TrueType fonts, DOS EPS files and 3D Studio meshes carry their length in the header.

#include "raw/IRawFileAnalyser.h"

// AutoCAD drawings of versions R12 to 2007 (AC1012 to AC1021); R11 (AC1009) is typed but not sized.
class FileDWGAnalyser : public IRawFileAnalyser {
 public:
  FileDWGAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  // The sentinel searches of the 2004 and 2007 formats end here.
  static constexpr uint64_t kSearchLimit = 0x1F400000;
  static constexpr uint32_t kMaxLocators = 100;
};

// TrueType fonts; the size is the sum of the table lengths.
class FileTTFAnalyser : public IRawFileAnalyser {
 public:
  FileTTFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// DXF drawings in text form with CR LF line ends: the file ends after "EOF".
class FileDXFAnalyser : public IRawFileAnalyser {
 public:
  FileDXFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// FreeHand 11 documents: the file ends after the closing "Decode" record.
class FileFH11Analyser : public IRawFileAnalyser {
 public:
  FileFH11Analyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Encapsulated PostScript with the DOS binary header and a preview; the size follows from the
// section table.
class FileEPSAnalyser : public IRawFileAnalyser {
 public:
  FileEPSAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// 3D Studio meshes; the size is the main chunk's length.
class File3DSAnalyser : public IRawFileAnalyser {
 public:
  File3DSAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};
