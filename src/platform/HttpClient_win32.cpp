#include "platform/HttpClient.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

#include "platform/win32/WinText.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace Plumeria {

namespace {

class THttpHandle
{
public:
    explicit THttpHandle(HINTERNET Handle = nullptr) : FHandle(Handle) {}
    ~THttpHandle()
    {
        if (FHandle)
            WinHttpCloseHandle(FHandle);
    }
    THttpHandle(const THttpHandle&) = delete;
    THttpHandle& operator=(const THttpHandle&) = delete;

    HINTERNET Get() const { return FHandle; }
    explicit operator bool() const { return FHandle != nullptr; }

private:
    HINTERNET FHandle;
};

/// English words for the WinHTTP errors an update check meets: the journal is English, and
/// winhttp.dll's own message table is missing or in the user's language on many systems.
const char* WinHttpErrorWords(DWORD Code)
{
    switch (Code) {
    case ERROR_WINHTTP_TIMEOUT:
        return "the operation timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "the server name could not be resolved";
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "the connection to the server was reset or ended";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the server response could not be read";
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return "the redirection failed";
    case ERROR_WINHTTP_SECURE_FAILURE:
        return "the server certificate failed the security check";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return "the server certificate has expired or is not yet valid";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return "the server certificate does not name this host";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return "the server certificate is issued by an untrusted authority";
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return "the server certificate has been revoked";
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        return "the server certificate is invalid";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return "the secure channel could not be set up";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return "the address scheme is not supported";
    case ERROR_WINHTTP_INVALID_URL:
        return "the address is invalid";
    case ERROR_WINHTTP_OPERATION_CANCELLED:
        return "the operation was cancelled";
    default:
        return nullptr;
    }
}

std::string ErrorText(DWORD Code)
{
    if (const char* Words = WinHttpErrorWords(Code))
        return std::string(Words) + " (WinHTTP error " + std::to_string(Code) + ")";
    HMODULE Module = nullptr;
    if (Code >= WINHTTP_ERROR_BASE && Code <= WINHTTP_ERROR_LAST)
        Module = GetModuleHandleW(L"winhttp.dll");
    return Win32::SystemMessage(Code, Module, "WinHTTP error");
}

HINTERNET OpenSession()
{
    const std::wstring Agent = Win32::Widen("PlumeriaBridge/" PLUMERIA_VERSION);
    HINTERNET Session = WinHttpOpen(Agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    // Before Windows 8.1 the automatic proxy choice does not exist.
    if (!Session)
        Session = WinHttpOpen(Agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    return Session;
}

THttpResult Failure(int Status = 0)
{
    return {false, Status, ErrorText(GetLastError())};
}

/// WinHTTP has no limit for a whole transfer: each wait is cut to what is left of it, and the
/// reads stop once it has passed.
class TOverallDeadline
{
public:
    explicit TOverallDeadline(int TimeoutMs)
        : FEnabled(TimeoutMs > 0), FEnd(GetTickCount64() + static_cast<ULONGLONG>(TimeoutMs))
    {
    }

    bool Passed() const { return FEnabled && GetTickCount64() >= FEnd; }

    /// `WaitMs` (0: WinHTTP's infinite) shortened to what is left, at least 1 ms.
    int Cut(int WaitMs) const
    {
        if (!FEnabled)
            return WaitMs;
        const ULONGLONG Now = GetTickCount64();
        const ULONGLONG Left = Now >= FEnd ? 1 : FEnd - Now;
        if (WaitMs > 0 && static_cast<ULONGLONG>(WaitMs) < Left)
            return WaitMs;
        return static_cast<int>(Left > 0x7FFFFFFF ? 0x7FFFFFFF : Left);
    }

private:
    bool FEnabled;
    ULONGLONG FEnd;
};

THttpResult TimedOut(int Status)
{
    return {false, Status, ErrorText(ERROR_WINHTTP_TIMEOUT)};
}

} // namespace

THttpResult SendHttpGet(const THttpRequest& Request,
                        const std::function<bool(int Status)>& OnStatus,
                        const std::function<bool(std::span<const std::uint8_t> Piece)>& OnData)
{
    // WinHTTP trusts the system store only; a private CA would need the store changed.
    if (!Request.CaFile.empty())
        return {false, 0, "a private CA file is not supported by WinHTTP"};

    const std::wstring Url = Win32::Widen(Request.Url);
    URL_COMPONENTS Parts{};
    Parts.dwStructSize = sizeof(Parts);
    Parts.dwHostNameLength = static_cast<DWORD>(-1);
    Parts.dwUrlPathLength = static_cast<DWORD>(-1);
    Parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    Parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (Url.empty() || !WinHttpCrackUrl(Url.c_str(), 0, 0, &Parts))
        return Failure();
    if (Parts.nScheme != INTERNET_SCHEME_HTTPS)
        return {false, 0, "only https addresses are fetched"};
    const std::wstring Host(Parts.lpszHostName, Parts.dwHostNameLength);
    std::wstring Path(Parts.lpszUrlPath, Parts.dwUrlPathLength);
    Path.append(Parts.lpszExtraInfo, Parts.dwExtraInfoLength);
    if (Path.empty())
        Path = L"/";

    THttpHandle Session(OpenSession());
    if (!Session)
        return Failure();

    const TOverallDeadline Deadline(Request.OverallTimeoutMs);
    const int Connect = Deadline.Cut(std::max(Request.ConnectTimeoutMs, 0));
    const int Response = Deadline.Cut(std::max(Request.ResponseTimeoutMs, 0));
    if (!WinHttpSetTimeouts(Session.Get(), Connect, Connect, Response, Response))
        return Failure();
    DWORD ReceiveResponseTimeout = static_cast<DWORD>(Response);
    WinHttpSetOption(Session.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                     &ReceiveResponseTimeout, sizeof(ReceiveResponseTimeout));
    DWORD Protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
    DWORD Modern = Protocols | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(Session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &Modern, sizeof(Modern)))
#endif
        WinHttpSetOption(Session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &Protocols,
                         sizeof(Protocols));

    // Redirections are followed, but never from https to plain http (WinHTTP's default, said
    // here so that no later default can change it).
    DWORD Redirects = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(Session.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &Redirects, sizeof(Redirects));

    THttpHandle Connection(WinHttpConnect(Session.Get(), Host.c_str(), Parts.nPort, 0));
    if (!Connection)
        return Failure();
    // WINHTTP_FLAG_SECURE with no SECURITY_FLAG_IGNORE_* option: the certificate, its chain and
    // the host name are always checked.
    THttpHandle Handle(WinHttpOpenRequest(Connection.Get(), L"GET", Path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          WINHTTP_FLAG_SECURE));
    if (!Handle)
        return Failure();
    if (!WinHttpSendRequest(Handle.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(Handle.Get(), nullptr))
        return Failure();

    DWORD Status = 0;
    DWORD StatusSize = sizeof(Status);
    if (!WinHttpQueryHeaders(Handle.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &Status, &StatusSize,
                             WINHTTP_NO_HEADER_INDEX))
        return Failure();
    const int Code = static_cast<int>(Status);
    // What is left after the redirections WinHTTP followed is one it refused (https to http)
    // or one without a target: not the document asked for.
    if (Code >= 300 && Code < 400)
        return {false, Code, "HTTP " + std::to_string(Code) + " redirection not followed"};

    try {
        if (!OnStatus(Code))
            return {true, Code, {}};
        std::vector<std::uint8_t> Buffer(std::max<std::size_t>(Request.ReadChunk, 1));
        for (;;) {
            if (Deadline.Passed())
                return TimedOut(Code);
            DWORD Receive = static_cast<DWORD>(Deadline.Cut(Response));
            WinHttpSetOption(Handle.Get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &Receive,
                             sizeof(Receive));
            DWORD Read = 0;
            if (!WinHttpReadData(Handle.Get(), Buffer.data(), static_cast<DWORD>(Buffer.size()),
                                 &Read))
                return Failure(Code);
            if (Read == 0)
                break;
            if (!OnData(std::span<const std::uint8_t>(Buffer.data(), Read)))
                return {false, Code, "transfer stopped by the receiver"};
        }
    } catch (const std::exception& Error) {
        return {false, Code, Error.what()};
    } catch (...) {
        return {false, Code, "transfer stopped by the receiver"};
    }
    return {true, Code, {}};
}

} // namespace Plumeria
