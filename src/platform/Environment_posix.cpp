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
    // A relative XDG_DATA_HOME is invalid and to be ignored: it would move the data with the
    // working folder.
    if (const std::string XdgData = EnvText("XDG_DATA_HOME");
        !XdgData.empty() && PathFromUtf8(XdgData).is_absolute())
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

} // namespace Plumeria
