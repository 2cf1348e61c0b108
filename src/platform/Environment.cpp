#include "platform/Environment.h"

// The same on every system: std::filesystem takes UTF-8 through char8_t and converts to the
// system's own path encoding (UTF-16 on Windows).

namespace Plumeria {

std::filesystem::path PathFromUtf8(std::string_view Utf8)
{
    return std::filesystem::path(std::u8string(Utf8.begin(), Utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& Path)
{
    const std::u8string Text = Path.u8string();
    return std::string(Text.begin(), Text.end());
}

} // namespace Plumeria
