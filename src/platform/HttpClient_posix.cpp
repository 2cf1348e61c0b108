#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <string>

namespace Plumeria {

namespace {

void EnsureCurlReady()
{
    // curl_global_init is not thread-safe; the first request of the process does it once.
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class TEasy
{
public:
    TEasy() : FCurl(curl_easy_init()) {}
    ~TEasy()
    {
        if (FCurl)
            curl_easy_cleanup(FCurl);
    }
    TEasy(const TEasy&) = delete;
    TEasy& operator=(const TEasy&) = delete;

    CURL* Get() const { return FCurl; }

private:
    CURL* FCurl;
};

struct TTransfer
{
    CURL* Curl = nullptr;
    std::size_t ReadChunk = 8192;
    const std::function<bool(int)>* OnStatus = nullptr;
    const std::function<bool(std::span<const std::uint8_t>)>* OnData = nullptr;
    bool StatusSent = false;
    bool Stopped = false; ///< OnStatus declined the body
    bool Aborted = false; ///< OnData declined or a callback threw
    int Status = 0;
    std::string Error;
};

int ResponseCode(CURL* Curl)
{
    long Code = 0;
    curl_easy_getinfo(Curl, CURLINFO_RESPONSE_CODE, &Code);
    return static_cast<int>(Code);
}

std::string RedirectNotFollowed(int Status)
{
    return "HTTP " + std::to_string(Status) + " redirection not followed";
}

bool SendStatus(TTransfer& Transfer)
{
    Transfer.StatusSent = true;
    Transfer.Status = ResponseCode(Transfer.Curl);
    if (Transfer.Status >= 300 && Transfer.Status < 400) {
        Transfer.Aborted = true;
        Transfer.Error = RedirectNotFollowed(Transfer.Status);
        return false;
    }
    if (!(*Transfer.OnStatus)(Transfer.Status)) {
        Transfer.Stopped = true;
        return false;
    }
    return true;
}

std::size_t ReceiveBody(char* Data, std::size_t Size, std::size_t Count, void* User)
{
    auto& Transfer = *static_cast<TTransfer*>(User);
    const std::size_t Total = Size * Count;
    try {
        // A redirection's own body is not the document; the followed response's body comes next.
        const int Code = ResponseCode(Transfer.Curl);
        if (Code >= 300 && Code < 400) {
            char* Location = nullptr;
            if (curl_easy_getinfo(Transfer.Curl, CURLINFO_REDIRECT_URL, &Location) == CURLE_OK &&
                Location)
                return Total;
        }
        if (!Transfer.StatusSent && !SendStatus(Transfer))
            return 0;
        const auto* Bytes = reinterpret_cast<const std::uint8_t*>(Data);
        for (std::size_t Pos = 0; Pos < Total;) {
            const std::size_t Piece = std::min(Transfer.ReadChunk, Total - Pos);
            if (!(*Transfer.OnData)(std::span<const std::uint8_t>(Bytes + Pos, Piece))) {
                Transfer.Aborted = true;
                Transfer.Error = "transfer stopped by the receiver";
                return 0;
            }
            Pos += Piece;
        }
    } catch (const std::exception& Failure) {
        Transfer.Aborted = true;
        Transfer.Error = Failure.what();
        return 0;
    } catch (...) {
        Transfer.Aborted = true;
        Transfer.Error = "transfer stopped by the receiver";
        return 0;
    }
    return Total;
}

} // namespace

THttpResult SendHttpGet(const THttpRequest& Request,
                        const std::function<bool(int Status)>& OnStatus,
                        const std::function<bool(std::span<const std::uint8_t> Piece)>& OnData)
{
    EnsureCurlReady();
    TEasy Easy;
    CURL* Curl = Easy.Get();
    if (!Curl)
        return {false, 0, "cannot create an HTTP client"};

    TTransfer Transfer;
    Transfer.Curl = Curl;
    Transfer.ReadChunk = std::max<std::size_t>(Request.ReadChunk, 1);
    Transfer.OnStatus = &OnStatus;
    Transfer.OnData = &OnData;

    char ErrorBuffer[CURL_ERROR_SIZE] = {};
    const std::string CaFile = Request.CaFile.string();

    curl_easy_setopt(Curl, CURLOPT_ERRORBUFFER, ErrorBuffer);
    curl_easy_setopt(Curl, CURLOPT_URL, Request.Url.c_str());
    curl_easy_setopt(Curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(Curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(Curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(Curl, CURLOPT_MAXREDIRS, 10L);
    // Verification is stated explicitly so that no library default can weaken it.
    curl_easy_setopt(Curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(Curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!CaFile.empty())
        curl_easy_setopt(Curl, CURLOPT_CAINFO, CaFile.c_str());
    curl_easy_setopt(Curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Curl, CURLOPT_USERAGENT, "PlumeriaBridge/" PLUMERIA_VERSION);
    if (Request.ConnectTimeoutMs > 0)
        curl_easy_setopt(Curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(Request.ConnectTimeoutMs));
    if (Request.ResponseTimeoutMs > 0) {
        // A response that stalls (not one byte for the whole time-out) ends the transfer; a slow
        // but moving one goes on, as with a receive time-out per wait.
        curl_easy_setopt(Curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(Curl, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>((Request.ResponseTimeoutMs + 999) / 1000));
    }
    if (Request.OverallTimeoutMs > 0)
        curl_easy_setopt(Curl, CURLOPT_TIMEOUT_MS, static_cast<long>(Request.OverallTimeoutMs));
    curl_easy_setopt(Curl, CURLOPT_BUFFERSIZE,
                     static_cast<long>(std::clamp<std::size_t>(Transfer.ReadChunk, 1024, 524288)));
    curl_easy_setopt(Curl, CURLOPT_WRITEFUNCTION, &ReceiveBody);
    curl_easy_setopt(Curl, CURLOPT_WRITEDATA, &Transfer);

    const CURLcode Code = curl_easy_perform(Curl);
    if (Transfer.Stopped)
        return {true, Transfer.Status, {}};
    if (Transfer.Aborted)
        return {false, Transfer.Status, Transfer.Error};
    if (Code != CURLE_OK) {
        std::string Message = ErrorBuffer[0] ? std::string(ErrorBuffer) : curl_easy_strerror(Code);
        while (!Message.empty() && (Message.back() == '\n' || Message.back() == '\r'))
            Message.pop_back();
        return {false, ResponseCode(Curl), Message};
    }
    // An empty body never reaches the write callback.
    if (!Transfer.StatusSent && !SendStatus(Transfer) && Transfer.Aborted)
        return {false, Transfer.Status, Transfer.Error};
    return {true, Transfer.Status, {}};
}

} // namespace Plumeria
