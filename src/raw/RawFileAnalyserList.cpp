#include "raw/RawFileAnalyserList.h"

#include "raw/ArchiveAnalysers.h"
#include "raw/CustomFileAnalyser.h"
#include "raw/DocumentAnalysers.h"
#include "raw/DrawingAnalysers.h"
#include "raw/FileJPGAnalyser.h"
#include "raw/FileTIFAnalyser.h"
#include "raw/ImageAnalysers.h"
#include "raw/MediaAnalysers.h"
#include "raw/RawFileTypeTable.h"

namespace {

using C = RawAnalyserClass;

constexpr const char* kClassNames[kRawAnalyserClassCount] = {
    "File3DSAnalyser", "File3GPAnalyser",    "FileASFAnalyser",  "FileAUAnalyser",
    "FileBMPAnalyser", "FileCABAnalyser",    "FileCHMAnalyser",  "FileCPTAnalyser",
    "FileCRWAnalyser", "FileDBXAnalyser",    "FileDWGAnalyser",  "FileDXFAnalyser",
    "FileEMFAnalyser", "FileEPSAnalyser",    "FileFH11Analyser", "FileGIFAnalyser",
    "FileGZAnalyser",  "FileHLPAnalyser",    "FileHTMAnalyser",  "FileICOAnalyser",
    "FileJPGAnalyser", "FileLowDocAnalyser", "FileLZHAnalyser",  "FileMDBAnalyser",
    "FileMIDAnalyser", "FileMNYAnalyser",    "FileMOVAnalyser",  "FileMP3Analyser",
    "FileMP4Analyser", "FileOLEAnalyser",    "FileONEAnalyser",  "FilePDFAnalyser",
    "FilePNGAnalyser", "FilePSDAnalyser",    "FilePSPAnalyser",  "FilePSTAnalyser",
    "FileRARAnalyser", "FileRIFFAnalyser",   "FileRTFAnalyser",  "FileSWFAnalyser",
    "FileTARAnalyser", "FileTIFAnalyser",    "FileTTFAnalyser",  "FileUnicodeHTMAnalyser",
    "FileWMFAnalyser", "FileWPDAnalyser",    "FileZIPAnalyser",  "CustomFileAnalyser",
};

// Built-in ids 1..73 and the analyser classes each calls for. An empty second entry means one
// class; both empty means none.
struct TypeRow {
  int32_t id;
  int32_t count;
  C first;
  C second;
};

constexpr TypeRow kTypeRows[] = {
    {1, 1, C::File3DS, C::Custom},
    {2, 1, C::File3GP, C::Custom},
    // Access projects are compound files, typed by the compound-file analyser from their streams;
    // the OneNote analyser would never report one.
    {3, 1, C::FileOLE, C::Custom},
    {4, 1, C::FileRIFF, C::Custom},
    {5, 1, C::FilePDF, C::Custom},
    {6, 1, C::FileASF, C::Custom},
    {7, 1, C::FileAU, C::Custom},
    {8, 1, C::FileRIFF, C::Custom},
    {9, 1, C::FileBMP, C::Custom},
    {10, 1, C::FileCAB, C::Custom},
    {11, 1, C::FileRIFF, C::Custom},
    {12, 1, C::FileCHM, C::Custom},
    {13, 1, C::FileRIFF, C::Custom},
    {14, 1, C::FileRIFF, C::Custom},
    {15, 1, C::FileCPT, C::Custom},
    {16, 1, C::FileCRW, C::Custom},
    {17, 1, C::FileRIFF, C::Custom},
    {18, 1, C::FileICO, C::Custom},
    {19, 1, C::FileDBX, C::Custom},
    {20, 0, C::Custom, C::Custom},
    {21, 2, C::FileOLE, C::FileLowDoc},
    {22, 1, C::FileDWG, C::Custom},
    {23, 1, C::FileDXF, C::Custom},
    {24, 1, C::FileEMF, C::Custom},
    {25, 1, C::FileEPS, C::Custom},
    {26, 0, C::Custom, C::Custom},
    {27, 1, C::FileFH11, C::Custom},
    {28, 1, C::FileGIF, C::Custom},
    {29, 1, C::FileGZ, C::Custom},
    {30, 1, C::FileHLP, C::Custom},
    {31, 2, C::FileHTM, C::FileUnicodeHTM},
    {32, 1, C::FileICO, C::Custom},
    {33, 1, C::FileJPG, C::Custom},
    {34, 1, C::FileLZH, C::Custom},
    {35, 1, C::FileOLE, C::Custom},
    {36, 1, C::FileMID, C::Custom},
    {37, 1, C::FileMDB, C::Custom},
    {38, 1, C::FileMNY, C::Custom},
    {39, 1, C::FileOLE, C::Custom},
    {40, 1, C::FileMOV, C::Custom},
    {41, 1, C::FileMP3, C::Custom},
    {42, 1, C::FileMP4, C::Custom},
    {43, 1, C::FileOLE, C::Custom},
    {44, 1, C::FileOLE, C::Custom},
    {45, 1, C::FileONE, C::Custom},
    {46, 1, C::FilePDF, C::Custom},
    {47, 1, C::FilePNG, C::Custom},
    {48, 1, C::FileOLE, C::Custom},
    {49, 1, C::FileOLE, C::Custom},
    {50, 1, C::FilePSD, C::Custom},
    {51, 1, C::FilePSP, C::Custom},
    {52, 1, C::FilePST, C::Custom},
    {53, 1, C::FileOLE, C::Custom},
    {54, 1, C::FileRAR, C::Custom},
    {55, 1, C::FileRIFF, C::Custom},
    {56, 1, C::FileRTF, C::Custom},
    {57, 2, C::FileOLE, C::FileWPD},
    {58, 1, C::FileSWF, C::Custom},
    {59, 1, C::FileTAR, C::Custom},
    {60, 1, C::FileTIF, C::Custom},
    {61, 1, C::FileTTF, C::Custom},
    {62, 1, C::FileOLE, C::Custom},
    {63, 1, C::FileRIFF, C::Custom},
    {64, 2, C::FileOLE, C::FileWPD},
    {65, 2, C::FileOLE, C::FileWPD},
    {66, 1, C::FileWMF, C::Custom},
    {67, 1, C::FileOLE, C::Custom},
    {68, 1, C::FileZIP, C::Custom},
    {69, 1, C::FileZIP, C::Custom},
    {70, 1, C::FileZIP, C::Custom},
    {71, 1, C::FileZIP, C::Custom},
    {72, 1, C::FileMDB, C::Custom},
    {73, 1, C::FileTIF, C::Custom},
};
static_assert(std::size(kTypeRows) == kLastBuiltInRawFileType);

}  // namespace

const char* RawAnalyserClassName(RawAnalyserClass c) {
  const auto i = static_cast<int32_t>(c);
  return i >= 0 && i < kRawAnalyserClassCount ? kClassNames[i] : "";
}

std::vector<RawAnalyserClass> RawAnalyserClassesForType(int typeId) {
  if (typeId < 1 || typeId > kLastBuiltInRawFileType) return {C::Custom};
  const TypeRow& row = kTypeRows[typeId - 1];
  std::vector<RawAnalyserClass> classes;
  if (row.count >= 1) classes.push_back(row.first);
  if (row.count >= 2) classes.push_back(row.second);
  return classes;
}

std::unique_ptr<IRawFileAnalyser> MakeRawFileAnalyser(RawAnalyserClass c) {
  switch (c) {
    case C::File3DS:
      return std::make_unique<File3DSAnalyser>();
    case C::File3GP:
      return std::make_unique<File3GPAnalyser>();
    case C::FileASF:
      return std::make_unique<FileASFAnalyser>();
    case C::FileAU:
      return std::make_unique<FileAUAnalyser>();
    case C::FileBMP:
      return std::make_unique<FileBMPAnalyser>();
    case C::FileCAB:
      return std::make_unique<FileCABAnalyser>();
    case C::FileCHM:
      return std::make_unique<FileCHMAnalyser>();
    case C::FileCPT:
      return std::make_unique<FileCPTAnalyser>();
    case C::FileCRW:
      return std::make_unique<FileCRWAnalyser>();
    case C::FileDBX:
      return std::make_unique<FileDBXAnalyser>();
    case C::FileDWG:
      return std::make_unique<FileDWGAnalyser>();
    case C::FileDXF:
      return std::make_unique<FileDXFAnalyser>();
    case C::FileEMF:
      return std::make_unique<FileEMFAnalyser>();
    case C::FileEPS:
      return std::make_unique<FileEPSAnalyser>();
    case C::FileFH11:
      return std::make_unique<FileFH11Analyser>();
    case C::FileGIF:
      return std::make_unique<FileGIFAnalyser>();
    case C::FileGZ:
      return std::make_unique<FileGZAnalyser>();
    case C::FileHLP:
      return std::make_unique<FileHLPAnalyser>();
    case C::FileHTM:
      return std::make_unique<FileHTMAnalyser>();
    case C::FileICO:
      return std::make_unique<FileICOAnalyser>();
    case C::FileJPG:
      return std::make_unique<FileJPGAnalyser>();
    case C::FileLowDoc:
      return std::make_unique<FileLowDocAnalyser>();
    case C::FileLZH:
      return std::make_unique<FileLZHAnalyser>();
    case C::FileMDB:
      return std::make_unique<FileMDBAnalyser>();
    case C::FileMID:
      return std::make_unique<FileMIDAnalyser>();
    case C::FileMNY:
      return std::make_unique<FileMNYAnalyser>();
    case C::FileMOV:
      return std::make_unique<FileMOVAnalyser>();
    case C::FileMP3:
      return std::make_unique<FileMP3Analyser>();
    case C::FileMP4:
      return std::make_unique<FileMP4Analyser>();
    case C::FileOLE:
      return std::make_unique<FileOLEAnalyser>();
    case C::FileONE:
      return std::make_unique<FileONEAnalyser>();
    case C::FilePDF:
      return std::make_unique<FilePDFAnalyser>();
    case C::FilePNG:
      return std::make_unique<FilePNGAnalyser>();
    case C::FilePSD:
      return std::make_unique<FilePSDAnalyser>();
    case C::FilePSP:
      return std::make_unique<FilePSPAnalyser>();
    case C::FilePST:
      return std::make_unique<FilePSTAnalyser>();
    case C::FileRAR:
      return std::make_unique<FileRARAnalyser>();
    case C::FileRIFF:
      return std::make_unique<FileRIFFAnalyser>();
    case C::FileRTF:
      return std::make_unique<FileRTFAnalyser>();
    case C::FileSWF:
      return std::make_unique<FileSWFAnalyser>();
    case C::FileTAR:
      return std::make_unique<FileTARAnalyser>();
    case C::FileTIF:
      return std::make_unique<FileTIFAnalyser>();
    case C::FileTTF:
      return std::make_unique<FileTTFAnalyser>();
    case C::FileUnicodeHTM:
      return std::make_unique<FileUnicodeHTMAnalyser>();
    case C::FileWMF:
      return std::make_unique<FileWMFAnalyser>();
    case C::FileWPD:
      return std::make_unique<FileWPDAnalyser>();
    case C::FileZIP:
      return std::make_unique<FileZIPAnalyser>();
    case C::Custom:
      return std::make_unique<CustomFileAnalyser>();
    default:
      return nullptr;
  }
}

CRawFileAnalyserList::~CRawFileAnalyserList() { Clear(); }

void CRawFileAnalyserList::push_back(std::unique_ptr<IRawFileAnalyser> analyser) {
  if (!analyser) return;
  m_analysers.push_back(analyser.release());
  ++m_generation;
}

void CRawFileAnalyserList::Clear() {
  for (IRawFileAnalyser* a : m_analysers) delete a;
  m_analysers.clear();
  ++m_generation;
}

void CRawFileAnalyserList::Rebuild(const std::vector<int>* typeIds) {
  if (!m_analysers.empty()) Clear();
  CreateRawFileAnalysers(*this, typeIds);
  ++m_generation;
}

void CreateAllRawFileAnalysers(CRawFileAnalyserList& list) {
  for (int32_t i = 0; i < kRawAnalyserClassCount; ++i) list.push_back(MakeRawFileAnalyser(static_cast<C>(i)));
}

void CreateRawFileAnalyser(int typeId, CRawFileAnalyserList& list) {
  for (C c : RawAnalyserClassesForType(typeId)) list.push_back(MakeRawFileAnalyser(c));
}

void CreateRawFileAnalysers(CRawFileAnalyserList& list, const std::vector<int>* typeIds) {
  if (!typeIds) return;
  for (int id : *typeIds) CreateRawFileAnalyser(id, list);
}

CRawFileAnalyserList& GetRawFileAnalyserList() {
  static CRawFileAnalyserList list;
  static const bool filled = [] {
    CreateAllRawFileAnalysers(list);
    return true;
  }();
  (void)filled;
  return list;
}
