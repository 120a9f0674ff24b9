#pragma once
// JPEG images: JFIF, EXIF and bare (quantisation table first) files.
//
// The length pass walks the marker segments up to the start of the first scan, then looks for the
// end-of-image marker in the entropy-coded data, which cannot hold FF D9 anywhere else. The walk's
// variant follows the application segment at the start: JFIF files also take a progressive frame
// header, bare files must be three-component colour images. An EXIF file gives the camera model and
// the recording date as the file's two texts.

#include <string>

#include "raw/IRawFileAnalyser.h"

class FileJPGAnalyser : public IRawFileAnalyser {
 public:
  FileJPGAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  std::string GetFirstInfoText() override { return m_firstInfo; }
  std::string GetSecondInfoText() override { return m_secondInfo; }
  RawLeadBytes GetLeadBytes() const override;

  // Marker segments walked at most before the first scan; a real file has a few dozen.
  static constexpr int kMaxSegments = 4096;

 private:
  std::string m_firstInfo;
  std::string m_secondInfo;
};
