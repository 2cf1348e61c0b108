#include "platform/Autostart.h"

#include "platform/Environment.h"

#include <windows.h>

#include <string>

namespace Plumeria {

namespace {

constexpr const wchar_t* RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* ValueName = L"PlumeriaBridge";

// Opens (creating it if missing) the current user's Run key; null when that is refused.
HKEY OpenRunKey(REGSAM Access)
{
    HKEY Key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, Access,
                        nullptr, &Key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return Key;
}

} // namespace

bool WriteAutostartEntry(const std::filesystem::path& Executable)
{
    if (Executable.empty())
        return false;
    const HKEY Key = OpenRunKey(KEY_SET_VALUE);
    if (!Key)
        return false;
    const std::wstring Command = L"\"" + Executable.wstring() + L"\"";
    const DWORD Bytes = static_cast<DWORD>((Command.size() + 1) * sizeof(wchar_t));
    const LONG Result = RegSetValueExW(Key, ValueName, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(Command.c_str()), Bytes);
    RegCloseKey(Key);
    return Result == ERROR_SUCCESS;
}

bool RemoveAutostartEntry()
{
    const HKEY Key = OpenRunKey(KEY_SET_VALUE);
    if (!Key)
        return false;
    // Deleting a value that is not there is the same as having deleted it.
    const LONG Result = RegDeleteValueW(Key, ValueName);
    RegCloseKey(Key);
    return Result == ERROR_SUCCESS || Result == ERROR_FILE_NOT_FOUND;
}

std::optional<std::string> ReadAutostartCommand()
{
    HKEY Key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_QUERY_VALUE, &Key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD Type = 0;
    DWORD Bytes = 0;
    LONG Result = RegQueryValueExW(Key, ValueName, nullptr, &Type, nullptr, &Bytes);
    std::wstring Text;
    if (Result == ERROR_SUCCESS && (Type == REG_SZ || Type == REG_EXPAND_SZ)) {
        Text.resize(Bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD Size = static_cast<DWORD>(Text.size() * sizeof(wchar_t));
        Result = RegQueryValueExW(Key, ValueName, nullptr, &Type,
                                  reinterpret_cast<BYTE*>(Text.data()), &Size);
        // The stored string may or may not carry its terminating null.
        Text.resize(Size / sizeof(wchar_t));
        while (!Text.empty() && Text.back() == L'\0')
            Text.pop_back();
    }
    RegCloseKey(Key);
    if (Result != ERROR_SUCCESS || (Type != REG_SZ && Type != REG_EXPAND_SZ))
        return std::nullopt;
    return PathToUtf8(std::filesystem::path(Text));
}

} // namespace Plumeria
