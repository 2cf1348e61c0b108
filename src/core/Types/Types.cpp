#include "core/Types/Types.h"

#include "core/Text/Text.h"

#include <array>

namespace Plumeria {

namespace {

constexpr std::array<std::string_view, ScaleKindCount> KindIds = {
    "digi", "cas", "massa-k", "shtrih-print", "mettler-toledo", "m-er"};
constexpr std::array<std::string_view, ScaleKindCount> KindNames = {
    "DIGI", "CAS", "MASSA-K", "SHTRIH-PRINT", "Mettler-Toledo", "M-ER"};

std::size_t KindIndex(TScaleKind Kind)
{
    const auto Index = static_cast<std::size_t>(Kind);
    return Index < KindIds.size() ? Index : 0;
}

} // namespace

std::string_view ScaleKindId(TScaleKind Kind)
{
    return KindIds[KindIndex(Kind)];
}

std::string_view ScaleKindName(TScaleKind Kind)
{
    return KindNames[KindIndex(Kind)];
}

bool TryScaleKindFromId(std::string_view Text, TScaleKind& Kind)
{
    const std::string Folded = Trim(AsciiLower(Text));
    for (std::size_t I = 0; I < KindIds.size(); ++I) {
        if (Folded == KindIds[I]) {
            Kind = static_cast<TScaleKind>(I);
            return true;
        }
    }
    return false;
}

} // namespace Plumeria
