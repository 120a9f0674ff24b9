#pragma once
// The recycle bins of Windows file systems as the directory builds meet them: the bin folders,
// and the pairs of files inside them ($I... holds the original name and size, $R... the data; older
// bins use names starting with "#"). Names are compared without regard to ASCII case.

#include <list>

class CFileNode;

// A folder (attribute 0x10) named "Recycler", "Recycled" or "$Recycle.Bin".
bool IsRecycleBinFolder(const CFileNode* node);
// The node itself or any node above it is a recycle-bin folder.
bool IsInRecycleBin(const CFileNode* node);
// A name of two or more characters that starts with "$" or "#" and has "I" as its second character.
bool IsRecycleBinIndexFile(const CFileNode* node);

// Finds the other file of a pair among the nodes still waiting for theirs: a waiting node is the
// partner when its name, with the second character made "I" (when `node` is an index file) or "R"
// (otherwise), equals `node`'s name. The first partner in list order is taken out of the list and
// returned; without one, `node` joins the list and null is returned.
CFileNode* FindRecycleBinPartner(std::list<CFileNode*>& waiting, CFileNode* node);
