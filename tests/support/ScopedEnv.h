#pragma once
// Sets (or unsets) one environment variable for the life of the object and puts the previous
// value back afterwards, so a test can redirect where the program looks for its folders.

#include <optional>
#include <string>

namespace Plumeria::Test {

class TScopedEnv
{
public:
    /// `Value` nothing: the variable is removed for the life of the object.
    TScopedEnv(std::string Name, std::optional<std::string> Value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOld;
};

} // namespace Plumeria::Test
