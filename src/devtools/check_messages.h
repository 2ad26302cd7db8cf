// The check's report of one page: one "file:line: message" line per error,
// the form editors and CI parse. Empty when the page compiles.
#pragma once

#include "devtools/page_loader.h"

#include <string>

namespace tn::dev
{

std::string CheckMessages(const std::string& path, const LoadedPage& page);

} // namespace tn::dev
