#pragma once
// What the NTFS engine hands the recovery core when the program starts: the ways to make empty NTFS
// file properties and empty NTFS partition records, so that saved trees and partition lists holding
// NTFS entries can be restored.
//
// Every program that links the engine registers it before main() runs (the build asks the linker to
// keep this registration, see CMakeLists.txt); calling RegisterNTFSEngine again does no harm.

// Registers the NTFS factories with the core; true when the core took them.
bool RegisterNTFSEngine();
