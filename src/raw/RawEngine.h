#pragma once
// What the RAW engine hands the recovery core when the program starts: the way to make empty RAW
// file properties, so that saved trees holding carved files can be restored, and the hooks through
// which the file-system engines build the "Raw Files" folder of a partition and ask which file the
// signature search found at a sector.
//
// Every program that links the engine registers it before main() runs (the build asks the linker to
// keep this registration, see CMakeLists.txt); calling RegisterRAWEngine again does no harm.

// Registers the RAW factories and hooks with the core; true when the core took them.
bool RegisterRAWEngine();
