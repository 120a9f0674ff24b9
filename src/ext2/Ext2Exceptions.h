#pragma once
// The Ext2 engine's exceptions and its error log.
//
// The engine's readers never fault on damaged data: every offset, length and count taken from the
// disk is checked before use. What cannot be read is reported by these exceptions (and by
// std::range_error "CExt2FileSystem::ReadBlocks" for a block request outside the device); the scan
// and the directory build catch std::exception, write it to "Ext2Error.log" and go on.

#include <exception>
#include <string>

#include "storage/ParseResult.h"

// An exception that says which field of an on-disk structure was refused, with its value, offset and
// the limit it broke. what() stays the plain std::exception text (the error log's lines are fixed);
// the handlers put the details on the trace channel beside them.
class CExt2ParseException : public std::exception {
 public:
  CExt2ParseException() = default;
  explicit CExt2ParseException(const corvale::ParseResult& result) : m_result(result) {}
  // Valid (with no field) when the thrower had nothing to name.
  const corvale::ParseResult& GetParseResult() const { return m_result; }

 private:
  corvale::ParseResult m_result;
};

// The superblock is not valid, or it places the file system's start outside the device.
class CExt2BadSuperBlock : public CExt2ParseException {
 public:
  using CExt2ParseException::CExt2ParseException;
};
// No group descriptor table passed the group test in any of the places it is kept (the result names
// what failed in the first place tried).
class CExt2BadGroupDescriptor : public CExt2ParseException {
 public:
  using CExt2ParseException::CExt2ParseException;
};
// A device read failed (the buffer it was to fill is zeroed).
class CExt2ReadSectorError : public std::exception {};

// Appends `text` and an end of line to "Ext2Error.log" in the program folder (nothing when there is
// none), a private file of the program's that is never reached through a link. Null writes nothing.
// Safe from several threads; each line is written whole.
void LogExt2Error(const char* text);
// The two lines the engine's handlers write for an exception: its type name, then its what() text.
// For a CExt2ParseException that names a field, the field, value, offset and limit go to the trace
// channel.
void LogExt2Exception(const std::exception& e);
// Where LogExt2Error writes; empty without a program folder.
std::string Ext2ErrorLogPath();
