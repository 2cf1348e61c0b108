#include "platform/TrayClick.h"

namespace Plumeria {

bool TraySingleClickOpens()
{
    return true;
}

} // namespace Plumeria
