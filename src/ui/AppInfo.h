#pragma once
// Facts about the program that several windows and the run log show.

#include <string>

// "1.1.1.8": built once from its four parts, then kept.
const char* GetVersionString();
// The build date the run log's banner shows.
const char* GetBuildDateString();

// The product title, the caption of every message box: "Corvale Hard Drive Data Recovery" until
// start-up replaces it with the user's language's text.
const std::string& GetProductTitle();
void SetProductTitle(const std::string& title);

// The folder of the running executable, ending in '/'. 1 on success; 0 for a null buffer, a size
// of 0 or less, a folder that does not fit or one that cannot be found.
int GetModuleDirectory(char* buffer, int size);
