#pragma once
// The files found by signature as a section of a state file: an 8-byte count, then one 22-byte
// record per file in the order found: start sector (8 bytes), size in bytes (8), file type (4) and
// the type id of the analyser that recognised it (2). The analyser itself is not saved; a restored
// record has none, and every file it needs to measure again is measured by type.

#include <memory>

#include "core/IRSData.h"

class CRawFileInfoList;

// {0F1F07F2-A023-4DEF-940E-2CE80A7A8D3D}
extern const RSGuid kRawFileListSection;

// False when the section cannot be begun. Stream errors are logged ("RS Exception:%d") and rethrown.
bool SaveRawFileList(IRSData& writer, CRawFileInfoList& list);
// Null when the file has no such section. A count that does not match the records present is bad
// data: the half-read list is freed, the error logged and rethrown.
std::unique_ptr<CRawFileInfoList> LoadRawFileList(IRSData& reader);
