#include "platform/Environment.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace Plumeria {

namespace {

std::string EnvText(const char* Name)
{
    const char* Value = std::getenv(Name);
    return Value ? std::string(Value) : std::string();
}

} // namespace

std::filesystem::path MachineDataBase()
{
    if (const std::string ProgramData = EnvText("ProgramData"); !ProgramData.empty())
        return PathFromUtf8(ProgramData);
    if (const std::string XdgData = EnvText("XDG_DATA_HOME"); !XdgData.empty())
        return PathFromUtf8(XdgData);
    if (const std::string Home = EnvText("HOME"); !Home.empty())
        return PathFromUtf8(Home) / ".local" / "share";
    return {};
}

std::filesystem::path ExecutablePath()
{
    std::error_code Error;
    auto Path = std::filesystem::read_symlink("/proc/self/exe", Error);
    return Error ? std::filesystem::path() : Path;
}

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
