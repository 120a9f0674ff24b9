#pragma once
// The FAT entry of the core's engine table: its volume analyser, directory build and search
// controller and lost-partition tester. Registered by RegisterFATEngine.

bool RegisterFATFileSystemEngine();
