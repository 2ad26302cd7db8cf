#include "devtools/dev_commands.h"

namespace tn::dev
{

int ServeCommand(const ServeOptions&, std::FILE*)
{
    return 1;
}

} // namespace tn::dev
