#include "platform/TrayClick.h"

namespace Plumeria {

bool TraySingleClickOpens()
{
    return false;
}

} // namespace Plumeria
