#pragma once
// The hints that offer "Don't show this message again." remember that answer across runs of the
// program, in the settings file both programs share (platform/Registry.h), as the language is.
//
//   [SOFTWARE\Corvale\TarnRecovery\Hints]
//   FormatRecoveryHint=0
//
// A value of "0" means the person asked never to see that hint again; a missing value, or a settings
// file that cannot be read, leaves the hint on.

namespace corvale::hints {

inline constexpr const char* kHintsKey = "SOFTWARE\\Corvale\\TarnRecovery\\Hints";
// After a deleted-file build: "If the files are not found or corrupted in this mode, please go to
// "Format Recovery"!"
inline constexpr const char* kFormatRecoveryHint = "FormatRecoveryHint";
// After a single found partition is built: "If the files you need are not found, please select the
// "Full scan"."
inline constexpr const char* kFullScanHint = "FullScanHint";

// False when the person turned hint `name` off in this run or an earlier one.
bool IsHintShown(const char* name);
// Turns hint `name` off for good. A settings file that cannot be written is logged; the hint is
// still off for the rest of this run (the caller keeps its own flag).
void HideHint(const char* name);

}  // namespace corvale::hints
