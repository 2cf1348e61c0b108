#include "core/Settings/GeneralEntry.h"

#include "core/Settings/Settings.h"
#include "core/Text/Text.h"

#include <algorithm>

namespace Plumeria {

namespace {

/// The text up to its first space, the whole text when it has none.
std::string_view UpToSpace(std::string_view Text)
{
    return Text.substr(0, Text.find(' '));
}

} // namespace

std::int32_t ReadConnectTimeout(std::string_view Text)
{
    std::int32_t Value = 0;
    if (!TryParseInt32(TrimView(Text), Value) || Value < MinConnectTimeoutMs ||
        Value > MaxConnectTimeoutMs)
        return DefaultConnectTimeoutMs;
    return Value;
}

std::string AdapterItemText(const TNetAdapter& Adapter)
{
    return Adapter.Caption.empty() ? Adapter.Ip : Adapter.Ip + "  " + Adapter.Caption;
}

std::string AdapterItemIp(std::string_view ItemText)
{
    return std::string(UpToSpace(TrimView(ItemText)));
}

TAdapterChoice ChooseAdapterItem(std::vector<std::string> Items, const std::string& AdapterIp)
{
    TAdapterChoice Choice;
    Choice.Items = std::move(Items);
    for (std::size_t I = 0; I < Choice.Items.size(); ++I)
        if (UpToSpace(Choice.Items[I]) == AdapterIp) {
            Choice.Selected = static_cast<int>(I);
            return Choice;
        }
    if (!AdapterIp.empty() &&
        std::find(Choice.Items.begin(), Choice.Items.end(), AdapterIp) == Choice.Items.end())
        Choice.Items.insert(Choice.Items.begin(), AdapterIp);
    Choice.Selected = Choice.Items.empty() ? -1 : 0;
    return Choice;
}

} // namespace Plumeria
