#include "platform/AtomicFile.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <system_error>

namespace Plumeria {

namespace {

[[noreturn]] void Fail(const char* What, const std::filesystem::path& Path, DWORD Error)
{
    throw std::filesystem::filesystem_error(
        What, Path, std::error_code(static_cast<int>(Error), std::system_category()));
}

bool WriteAll(HANDLE File, std::string_view Bytes)
{
    while (!Bytes.empty()) {
        const DWORD Chunk =
            Bytes.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(Bytes.size());
        DWORD Written = 0;
        if (!WriteFile(File, Bytes.data(), Chunk, &Written, nullptr) || Written == 0)
            return false;
        Bytes.remove_prefix(Written);
    }
    return true;
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& Target, std::string_view Bytes)
{
    static std::atomic<unsigned> Counter{0};
    const std::wstring Temp = Target.wstring() + L".tmp." + std::to_wstring(GetCurrentProcessId()) +
                              L"." + std::to_wstring(Counter++);

    // CREATE_NEW: never write through a file someone else put under that name.
    const HANDLE File = CreateFileW(Temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE)
        Fail("cannot create temporary file", std::filesystem::path(Temp), GetLastError());

    DWORD Error = ERROR_SUCCESS;
    if (!WriteAll(File, Bytes) || !FlushFileBuffers(File)) {
        Error = GetLastError();
        if (Error == ERROR_SUCCESS)
            Error = ERROR_WRITE_FAULT;
    }
    if (!CloseHandle(File) && Error == ERROR_SUCCESS)
        Error = GetLastError();
    if (Error == ERROR_SUCCESS && !MoveFileExW(Temp.c_str(), Target.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Error = GetLastError();
    if (Error != ERROR_SUCCESS) {
        DeleteFileW(Temp.c_str());
        Fail("cannot write file", Target, Error);
    }
}

} // namespace Plumeria
