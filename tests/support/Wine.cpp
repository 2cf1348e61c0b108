#include "support/Wine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace Plumeria::Test {

bool RunningUnderWine()
{
#ifdef _WIN32
    // Wine's ntdll exports its version; Windows' ntdll has no such function.
    const HMODULE Ntdll = GetModuleHandleW(L"ntdll.dll");
    return Ntdll != nullptr && GetProcAddress(Ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace Plumeria::Test
