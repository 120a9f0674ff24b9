#pragma once
// A found-file tree as one section of a state file.
//
// Layout: the root's node kind (4 bytes, always 1), its saved form and its properties record; then,
// breadth-first over the folders with the root first, each folder's children as records of node
// kind (0 plain node, 1 partition node), saved form (partition nodes only) and properties record,
// closed by a 4-byte -1. Children are written in reverse list order: loading adds each child at the
// head of its parent's list, so the loaded order is the order in memory.
//
// Anything a writer of ours never produces (another root kind, an unknown node kind or properties
// code, a forged length) is bad data: the reader frees what it built and raises the stream's
// exception. Skipping such a record would leave every later child list under the wrong folder.

#include "core/IRSData.h"

class CFileSystemNode;
class IDIRBuildCallback;

// {D208F26C-078C-4E34-9D71-D91F535F7B57}
inline const RSGuid kFileSystemTreeSection{
    {0x6C, 0xF2, 0x08, 0xD2, 0x8C, 0x07, 0x34, 0x4E, 0x9D, 0x71, 0xD9, 0x1F, 0x53, 0x5F, 0x7B, 0x57}};

// Writes the tree below `root` as its own section. False when there is no root or the section
// cannot be begun; a stream exception is logged ("RS Exception:%d") and rethrown. `progress`
// (optional) is told a percentage from 41 up to 90 and polled after each node.
bool WriteFileSystemTree(CFileSystemNode* root, IRSData& writer, IDIRBuildCallback* progress);

// Reads the tree section back; null when the file has no such section. On a stream exception the
// half-built tree is freed, "RS Exception:%d" logged and the exception rethrown.
CFileSystemNode* ReadFileSystemTree(IRSData& reader, IDIRBuildCallback* progress);
