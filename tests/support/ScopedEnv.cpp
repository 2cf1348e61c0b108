#include "support/ScopedEnv.h"

#include "platform/Environment.h"

#include <cstdlib>
#include <utility>

namespace Plumeria::Test {

namespace {

#ifdef _WIN32
// The wide calls: UTF-8 in the narrow ones would be read in the ANSI code page.
std::wstring Wide(const std::string& Utf8)
{
    return PathFromUtf8(Utf8).wstring();
}
#endif

std::optional<std::string> Current(const std::string& Name)
{
#ifdef _WIN32
    if (const wchar_t* Old = _wgetenv(Wide(Name).c_str()))
        return PathToUtf8(std::filesystem::path(Old));
#else
    if (const char* Old = std::getenv(Name.c_str()))
        return std::string(Old);
#endif
    return std::nullopt;
}

void Apply(const std::string& Name, const std::optional<std::string>& Value)
{
#ifdef _WIN32
    _wputenv_s(Wide(Name).c_str(), Value ? Wide(*Value).c_str() : L"");
#else
    if (Value)
        setenv(Name.c_str(), Value->c_str(), 1);
    else
        unsetenv(Name.c_str());
#endif
}

} // namespace

TScopedEnv::TScopedEnv(std::string Name, std::optional<std::string> Value) : FName(std::move(Name))
{
    FOld = Current(FName);
    Apply(FName, Value);
}

TScopedEnv::~TScopedEnv()
{
    Apply(FName, FOld);
}

} // namespace Plumeria::Test
