#pragma once
// The analysers of RAW carving: which analyser classes each file-type id calls for, the factories
// that create them, and the process-wide list the search offers sectors to.

#include <cstdint>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "raw/IRawFileAnalyser.h"

// Every analyser class, in the order CreateAllRawFileAnalysers creates them (alphabetical by file
// type, the script analyser last).
enum class RawAnalyserClass : int32_t {
  File3DS,
  File3GP,
  FileASF,
  FileAU,
  FileBMP,
  FileCAB,
  FileCHM,
  FileCPT,
  FileCRW,
  FileDBX,
  FileDWG,
  FileDXF,
  FileEMF,
  FileEPS,
  FileFH11,
  FileGIF,
  FileGZ,
  FileHLP,
  FileHTM,
  FileICO,
  FileJPG,
  FileLowDoc,
  FileLZH,
  FileMDB,
  FileMID,
  FileMNY,
  FileMOV,
  FileMP3,
  FileMP4,
  FileOLE,
  FileONE,
  FilePDF,
  FilePNG,
  FilePSD,
  FilePSP,
  FilePST,
  FileRAR,
  FileRIFF,
  FileRTF,
  FileSWF,
  FileTAR,
  FileTIF,
  FileTTF,
  FileUnicodeHTM,
  FileWMF,
  FileWPD,
  FileZIP,
  Custom,
};
constexpr int32_t kRawAnalyserClassCount = 48;

const char* RawAnalyserClassName(RawAnalyserClass c);

// The analyser classes that carving a file type calls for, in the order they are created: none for
// DLL and EXE, two for DOC, HTM, SHW, WPD and WPG, the script analyser for 0 and every id outside
// the built-in range.
std::vector<RawAnalyserClass> RawAnalyserClassesForType(int typeId);

// A new analyser of class `c`; null for a class this build does not have.
std::unique_ptr<IRawFileAnalyser> MakeRawFileAnalyser(RawAnalyserClass c);

// Owns its analysers, in creation order.
class CRawFileAnalyserList {
 public:
  using Container = std::list<IRawFileAnalyser*>;

  CRawFileAnalyserList() = default;
  ~CRawFileAnalyserList();
  CRawFileAnalyserList(const CRawFileAnalyserList&) = delete;
  CRawFileAnalyserList& operator=(const CRawFileAnalyserList&) = delete;

  void push_back(std::unique_ptr<IRawFileAnalyser> analyser);
  // Destroys every analyser held, then creates those of `typeIds` (nothing for null).
  void Rebuild(const std::vector<int>* typeIds);
  void Clear();

  bool empty() const { return m_analysers.empty(); }
  size_t size() const { return m_analysers.size(); }
  Container::const_iterator begin() const { return m_analysers.begin(); }
  Container::const_iterator end() const { return m_analysers.end(); }
  // Bumped by every change, so that a dispatch table built over the list knows when to rebuild.
  uint64_t Generation() const { return m_generation; }

 private:
  Container m_analysers;
  uint64_t m_generation = 0;
};

// One instance of every analyser class this build has, in class order.
void CreateAllRawFileAnalysers(CRawFileAnalyserList& list);
// The analysers of one file type, appended in the order of RawAnalyserClassesForType.
void CreateRawFileAnalyser(int typeId, CRawFileAnalyserList& list);
// CreateRawFileAnalyser for each id in vector order; nothing for a null or empty vector. The same
// class is created again for every id that calls for it.
void CreateRawFileAnalysers(CRawFileAnalyserList& list, const std::vector<int>* typeIds);

// The list of the process, filled with every analyser on first use; rebuilt for the chosen types
// at the start of each RAW search. Used by one thread at a time.
CRawFileAnalyserList& GetRawFileAnalyserList();
