// What the host's functions work on besides the machine: the response the
// script shapes, its open files, server statistics and what it holds of the
// background scripts. The script engine owns it and hands it to its machine.
#pragma once

#include "common/result_codes.h"
#include "hostlib/open_files.h"
#include "hostlib/script_services.h"

#include <cstdint>
#include <map>
#include <string>

namespace tn
{

// What the script asked for besides its page: header lines, a suppressed page
// or a page that replaces the assembled one.
struct ResponseState
{
    std::string headerText; // lines, each ended by "\n", in the order added
    bool pageSuppressed = false;
    std::string replacementPage; // sent instead of the page when not empty
    // A function that ends the run with a code of its own (an HTTP error
    // ends it with SpecialError) leaves the code here; the machine itself
    // only reports OK for a run that stopped.
    ereturnvalue runResult = ereturnvalue::OK;

    void clear() noexcept
    {
        headerText.clear();
        pageSuppressed = false;
        replacementPage.clear();
        runResult = ereturnvalue::OK;
    }
};

struct HostContext
{
    ResponseState response;
    OpenFiles files;
    std::map<std::string, int32_t, std::less<>> serverStats; // this host fills none
    ScriptWaits scripts;

    // Ready for the next run of the script: nothing it opened stays open.
    void clear() noexcept
    {
        response.clear();
        files.closeAll();
        serverStats.clear();
    }
    // The script has ended, whichever way: give back what it holds.
    void endScript() noexcept
    {
        files.closeAll();
        scripts.release();
    }
};

} // namespace tn
