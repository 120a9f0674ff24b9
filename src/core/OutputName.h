#pragma once
// Names of the folders and files the recovery writes into the user's target folder. A name comes from
// the disk (or from a state file) and can hold anything; it must become exactly one entry inside the
// folder it is created in, and stay readable.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvale {

// The longest name made, in bytes: a file system's 255 less room for the counter that tells
// duplicate names apart ("_%03d", and longer for folders past 999).
inline constexpr size_t kMaxOutputNameBytes = 247;

// One path component from a name found on the disk:
// - bytes that are not well-formed UTF-8 are written as "%XX" (two upper-case hex digits), so that
//   the name can be shown and two names that differ only there stay different;
// - "/" (which would make a path), NUL and the control characters 0x01-0x1F and 0x7F become "#";
// - an empty name and "." become "#", ".." becomes "##";
// - a longer name is cut to kMaxOutputNameBytes on a character boundary, keeping its extension.
std::string MakeOutputName(std::string_view name);

// The folder made for the top of a recovered tree (a partition or volume, named like "D:(Data - NTFS
// 1)"): the characters Windows refuses in names, : ? \ / | * > < ", become "#", then the rules of
// MakeOutputName apply.
std::string MakeTopFolderName(std::string_view name);

}  // namespace corvale
