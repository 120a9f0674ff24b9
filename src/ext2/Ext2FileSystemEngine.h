#pragma once
// The Ext2/Ext3 entry of the core's engine table: its volume analyser, directory build and search
// controller and lost-partition tester. Registered by RegisterExt2Engine.

bool RegisterExt2FileSystemEngine();
