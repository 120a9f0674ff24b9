#pragma once
// One file found by its contents: where it starts, how long it is, what it is and which analyser
// recognised it. Created by the RAW search controller and owned by the list of found files.

#include <cstdint>
#include <string>

class IRawFileAnalyser;

class CRawFileInfo {
 public:
  // The analyser type id a record carries until an analyser claims it.
  static constexpr int32_t kNoAnalyserTypeId = 0xFFFF;

  void SetStartSector(uint64_t sector) { m_startSector = sector; }
  void SetFileSize(uint64_t size) { m_size = size; }
  void SetFileType(int type) { m_type = type; }
  void SetAnalyserTypeId(int id) { m_analyserTypeId = id; }
  void SetFirstInfoText(std::string text) { m_firstInfo = std::move(text); }
  void SetSecondInfoText(std::string text) { m_secondInfo = std::move(text); }
  void SetAnalyser(IRawFileAnalyser* analyser) { m_analyser = analyser; }

  uint64_t GetStartSector() const { return m_startSector; }
  uint64_t GetFileSize() const { return m_size; }
  int GetFileType() const { return m_type; }
  int GetAnalyserTypeId() const { return m_analyserTypeId; }
  std::string GetFirstInfoText() const { return m_firstInfo; }
  std::string GetSecondInfoText() const { return m_secondInfo; }
  IRawFileAnalyser* GetAnalyser() const { return m_analyser; }

  // What a header test may have written: type, size and texts. A record offered to several
  // analysers in turn is cleared between them, so that a refusing analyser's leftovers never reach
  // the analyser that accepts the sector.
  void ClearFindings() {
    m_size = 0;
    m_type = 0;
    if (!m_firstInfo.empty()) m_firstInfo.clear();
    if (!m_secondInfo.empty()) m_secondInfo.clear();
  }

 private:
  uint64_t m_startSector = 0;
  uint64_t m_size = 0;
  int32_t m_type = 0;
  int32_t m_analyserTypeId = kNoAnalyserTypeId;
  std::string m_firstInfo;
  std::string m_secondInfo;
  IRawFileAnalyser* m_analyser = nullptr;  // not owned
};
