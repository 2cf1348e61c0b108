#include "support/ScopedEnv.h"

#include <cstdlib>
#include <utility>

namespace Plumeria::Test {

namespace {

void Apply(const std::string& Name, const std::optional<std::string>& Value)
{
#ifdef _WIN32
    _putenv_s(Name.c_str(), Value ? Value->c_str() : "");
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
    if (const char* Old = std::getenv(FName.c_str()))
        FOld = Old;
    Apply(FName, Value);
}

TScopedEnv::~TScopedEnv()
{
    Apply(FName, FOld);
}

} // namespace Plumeria::Test
