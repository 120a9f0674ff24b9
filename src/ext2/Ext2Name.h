#pragma once
// Names in Ext2 directory entries are bytes, UTF-8 as the system that wrote them made them. The
// engine's narrow text is UTF-8 too, so a well-formed name converts to itself.
//
// The check is strict: over-long forms (C0 AF would be "/", C0 AE "."), encoded surrogates and values
// past U+10FFFF are not well formed. Such a name is not converted and the caller keeps its raw bytes;
// the recovery output makes any name safe as a path component.

#include <cstddef>
#include <cstdint>

// Converts `length` bytes of an on-disk name into `out` (room for `capacity` bytes). Returns the
// number of bytes written; 0 when the name is empty or not well-formed UTF-8, or does not fit.
size_t ConvertExt2Name(const uint8_t* name, size_t length, char* out, size_t capacity);
