#include "platform/Process.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <string>

namespace Plumeria {

namespace {

std::string Narrow(const wchar_t* Wide, int Length)
{
    if (Length <= 0)
        return {};
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Wide, Length, nullptr, 0, nullptr, nullptr);
    if (Size <= 0)
        return {};
    std::string Utf8(static_cast<std::size_t>(Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide, Length, Utf8.data(), Size, nullptr, nullptr);
    return Utf8;
}

std::string SystemMessage(DWORD Code)
{
    wchar_t* Buffer = nullptr;
    // English first: the journal is English. A system without the English table still says it
    // in its own language.
    const DWORD Flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD Length =
        FormatMessageW(Flags, nullptr, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    if (Length == 0)
        Length =
            FormatMessageW(Flags, nullptr, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    std::string Text;
    if (Length > 0 && Buffer)
        Text = Narrow(Buffer, static_cast<int>(Length));
    if (Buffer)
        LocalFree(Buffer);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' '))
        Text.pop_back();
    if (Text.empty())
        Text = "error " + std::to_string(Code);
    return Text;
}

} // namespace

std::string_view ExecutableSuffix()
{
    return ".exe";
}

bool MakeExecutable(const std::filesystem::path&, std::string&)
{
    // Any file named .exe may be run; there are no run bits to set.
    return true;
}

bool StartDetached(const std::filesystem::path& Path, std::string& Error)
{
    // The shell may hand the start to COM; it asks for an apartment on the calling thread.
    const HRESULT Com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring File = Path.wstring();
    SHELLEXECUTEINFOW Info{};
    Info.cbSize = sizeof(Info);
    // NOASYNC: the caller ends its process right after; the start must be complete by then.
    Info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    Info.lpVerb = L"open";
    Info.lpFile = File.c_str();
    Info.lpParameters = nullptr;
    Info.lpDirectory = nullptr;
    Info.nShow = SW_SHOWNORMAL;
    const BOOL Started = ShellExecuteExW(&Info);
    const DWORD Code = GetLastError();
    if (SUCCEEDED(Com))
        CoUninitialize();
    if (!Started) {
        Error = SystemMessage(Code);
        return false;
    }
    return true;
}

} // namespace Plumeria
