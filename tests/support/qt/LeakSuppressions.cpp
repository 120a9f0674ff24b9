// The system's font configuration library keeps a few hundred bytes it allocated while reading its
// configuration files, the first time Qt looks up a font; it is not ours to mend. The sanitizer of
// the test programs that draw text is told to leave that one library out of its leak report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
