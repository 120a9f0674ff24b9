#pragma once
// Whether a found file's type is one the user wants to see: the directory builds drop the others.

class CFileTypeExtensionSet;

// True without a name, with `all` set, or when the set holds no extensions (every type wanted);
// otherwise true only when the name has an extension (from its last ".") that the set answers
// for. A name without any "." is then not wanted.
bool IsWantedFileType(const CFileTypeExtensionSet& set, const char* name, bool all);
// The same against the program-wide set the user chose.
bool IsWantedFileType(const char* name, bool all);
