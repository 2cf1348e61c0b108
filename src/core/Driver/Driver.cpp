#include "core/Driver/Driver.h"

#include "core/Digi/Digi.h"
#include "core/Pending/Pending.h"

namespace Plumeria {

TScaleDriverRef CreateScaleDriver(TScaleKind Kind)
{
    if (Kind == TScaleKind::skDigi)
        return std::make_shared<TDigiDriver>();
    return std::make_shared<TPendingScaleDriver>(Kind);
}

} // namespace Plumeria
