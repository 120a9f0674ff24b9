#pragma once
// What the Ext2 engine hands the recovery core when the program starts: the ways to make empty Ext2
// file properties and empty Ext2 partition records, so that saved trees and partition lists holding
// Ext2/Ext3 entries can be restored.
//
// Every program that links the engine registers it before main() runs (the build asks the linker to
// keep this registration, see CMakeLists.txt); calling RegisterExt2Engine again does no harm.

// Registers the Ext2 factories with the core; true when the core took them.
bool RegisterExt2Engine();
