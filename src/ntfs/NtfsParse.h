#pragma once
// The three parse outcomes of the NTFS structures: the engine-wide ones, named in this engine's
// namespace.

#include "storage/ParseResult.h"

namespace corvale::ntfs {

using corvale::ParseError;
using corvale::ParseOutcome;
using corvale::ParseResult;
using corvale::ToString;

}  // namespace corvale::ntfs
