#pragma once
// What the NTFS engine hands the recovery core when the program starts: the way to make empty NTFS
// file properties and searched NTFS partitions, so that saved trees and scans can be restored.
//
// Every program that links the engine registers it before main() runs (the build asks the linker to
// keep this registration, see CMakeLists.txt); calling RegisterNTFSEngine again does no harm.

// Registers the NTFS factories with the core; true when the core took them.
bool RegisterNTFSEngine();
