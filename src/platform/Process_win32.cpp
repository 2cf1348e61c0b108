#include "platform/Process.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "platform/win32/WinText.h"

#include <string>

namespace Plumeria {

std::string_view ExecutableSuffix()
{
    return ".exe";
}

bool MakeExecutable(const std::filesystem::path&, std::string&)
{
    // Any file named .exe may be run; there are no run bits to set.
    return true;
}

bool StartDetached(const std::filesystem::path& Path, std::string& Error, std::uint64_t* ProcessId)
{
    // The shell may hand the start to COM; it asks for an apartment on the calling thread.
    const HRESULT Com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring File = Path.wstring();
    SHELLEXECUTEINFOW Info{};
    Info.cbSize = sizeof(Info);
    // NOASYNC: the caller ends its process right after; the start must be complete by then.
    // NOCLOSEPROCESS: the handle tells the new process's id, when a process was started at all.
    Info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
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
        Error = Win32::SystemMessage(Code);
        return false;
    }
    if (ProcessId)
        *ProcessId = Info.hProcess ? GetProcessId(Info.hProcess) : 0;
    if (Info.hProcess)
        CloseHandle(Info.hProcess);
    return true;
}

std::uint64_t CurrentProcessId()
{
    return GetCurrentProcessId();
}

bool ProcessRunning(std::uint64_t Id)
{
    if (Id == 0)
        return true;
    const HANDLE Process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(Id));
    if (!Process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const DWORD Wait = WaitForSingleObject(Process, 0);
    CloseHandle(Process);
    return Wait == WAIT_TIMEOUT;
}

} // namespace Plumeria
