#include "raw/RawFileTypeTable.h"

#include <algorithm>
#include <cstring>

#include "core/BuiltInFileTypes.h"

namespace {

// Descriptions of rows 0..73; the extensions are the core's list of built-in types, so the two
// can never disagree.
constexpr const char* kDescriptions[kLastBuiltInRawFileType + 1] = {
    "Raw",
    "3DS file",
    "3GP Multimedia file",
    "Access Project file",
    "ANI file",
    "Adobe Illustrator file",
    "Audio Streaming Format file",
    "AU file",
    "Audio Video Interleave file",
    "Bitmap file",
    "Cabinet file",
    "COREL Darw file",
    "CHM file",
    "Corel Draw Corel RAVE Image file",
    "Corel Draw Vector Image file",
    "Corel Photo Paint Image file",
    "Canon Raw graphics file",
    "CSL file",
    "Cursor file",
    "Outlook Express Email file",
    "DLL file",
    "Microsoft Word Document",
    "AutoCAD Drawing file",
    "AutoCad DX File",
    "Enhanced Metafile",
    "Encapsulated Postscript file",
    "EXE file",
    "Freehand 10 file",
    "GIF graphics file",
    "GZIP compression file",
    "Help file",
    "HTML Documents file",
    "Icon file",
    "JPEG Graphics file",
    "LZH compression file",
    "3d Studio Max file",
    "Musical Instrument Digital Interface file",
    "Access Database file",
    "Microsoft Money file",
    "MOF file",
    "MOV Multimedia file",
    "MP3 Music file",
    "MP4 Multimedia file",
    "Microsoft Project file",
    "Compound file",
    "Microsoft OneNote file",
    "Adobe Portable Document",
    "Portable Network Graphic file",
    "Microsoft PowerPoint Presentation file",
    "Microsoft Publisher Document",
    "Adobe Photoshop file",
    "Paint Shop Pro file",
    "Outlook Email file",
    "QuattroPro 7 File",
    "RAR compression file",
    "RIFF Multimedia file",
    "Rich Text Document",
    "Corel Presentation File",
    "ShockWave Flash file",
    "TAR archive file",
    "Tagged Image File",
    "True Type Font file",
    "Microsoft Visio Drawing",
    "WAVE Multimedia file",
    "WordPerfect file",
    "WordPerfect Documents and Graphics v8",
    "WMF Multimedia file",
    "Microsoft Excel XML Documents",
    "Zip compression file",
    "Microsoft DOCX file",
    "Microsoft XLSX file",
    "Microsoft PPTX file",
    "Microsoft ACCDB file",
    "Nikon NEF file",
};
static_assert(kLastBuiltInRawFileType == kLastBuiltInFileType);

void CopyCut(char* to, size_t capacity, const char* from) {
  const size_t n = std::min(std::strlen(from), capacity - 1);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

RawFileTypeTable& GetRawFileTypeTable() {
  static RawFileTypeTable table{};
  static const bool filled = [] {
    for (int32_t id = 0; id <= kLastBuiltInRawFileType; ++id) {
      CopyCut(table.Extensions[id], kRawExtensionChars, GetBuiltInFileTypeExtension(id));
      CopyCut(table.Descriptions[id], kRawDescriptionChars, kDescriptions[id]);
    }
    return true;
  }();
  (void)filled;
  return table;
}

const char* GetRawFileExtension(int32_t id) {
  return IsRawFileTypeIdInTable(id) ? GetRawFileTypeTable().Extensions[id] : "";
}

const char* GetRawFileDescription(int32_t id) {
  return IsRawFileTypeIdInTable(id) ? GetRawFileTypeTable().Descriptions[id] : "";
}
