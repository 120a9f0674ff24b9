#pragma once
// What the FAT engine hands the recovery core when the program starts: the ways to make empty FAT
// file properties and FAT partition records, so that saved trees and partition lists holding FAT
// ones can be restored.
//
// Every program that links the engine registers it before main() runs (the build asks the linker to
// keep this registration, see CMakeLists.txt); calling RegisterFATEngine again does no harm.

bool RegisterFATEngine();
