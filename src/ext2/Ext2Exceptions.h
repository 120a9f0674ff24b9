#pragma once
// The Ext2 engine's exceptions and its error log.
//
// The engine's readers never fault on damaged data: every offset, length and count taken from the
// disk is checked before use. What cannot be read is reported by these exceptions (and by
// std::range_error "CExt2FileSystem::ReadBlocks" for a block request outside the device); the scan
// and the directory build catch std::exception, write it to "Ext2Error.log" and go on.

#include <exception>
#include <string>

// The superblock is not valid, or the file system is larger than the device holds after its start.
class CExt2BadSuperBlock : public std::exception {};
// No group descriptor table passed the group test in any of the places it is kept.
class CExt2BadGroupDescriptor : public std::exception {};
// A device read failed (the buffer it was to fill is zeroed).
class CExt2ReadSectorError : public std::exception {};

// Appends `text` and an end of line to "Ext2Error.log" in the program folder (the current folder when
// there is none). Null writes nothing. Safe from several threads; each line is written whole.
void LogExt2Error(const char* text);
// The two lines the engine's handlers write for an exception: its type name, then its what() text.
void LogExt2Exception(const std::exception& e);
// Where LogExt2Error writes.
std::string Ext2ErrorLogPath();
