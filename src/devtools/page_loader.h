// Loads a page for the developer's tools: a source page is compiled (never its
// compiled sibling, and nothing is written), a compiled file is decoded.
#pragma once

#include "common/result_codes.h"
#include "host/script.h"

#include <memory>
#include <string>

namespace tn::dev
{

struct LoadedPage
{
    std::unique_ptr<Script> script;
    ereturnvalue result = ereturnvalue::Error;
    bool compiledFile = false;
};

LoadedPage LoadPageForTool(const std::string& path);

} // namespace tn::dev
