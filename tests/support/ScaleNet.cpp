#include "support/ScaleNet.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "support/TempDir.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>

#include <windows.h>
#endif

namespace Plumeria::Test {

namespace {

/// Today's journal file split at its CR LF line ends.
std::vector<std::string> RawJournalLines()
{
    std::vector<std::string> Lines;
    const std::string Content = ReadFileBytes(LogFilePath());
    std::size_t Start = 0;
    while (Start < Content.size()) {
        std::size_t End = Content.find("\r\n", Start);
        if (End == std::string::npos)
            End = Content.size();
        Lines.push_back(Content.substr(Start, End - Start));
        Start = End + 2;
    }
    return Lines;
}

} // namespace

std::vector<TJournalEntry> JournalEntries()
{
    std::vector<TJournalEntry> Entries;
    for (const std::string& Line : RawJournalLines()) {
        // "yyyy-mm-dd hh:nn:ss | LEVEL | text"
        const std::size_t First = Line.find(" | ");
        const std::size_t Second =
            First == std::string::npos ? std::string::npos : Line.find(" | ", First + 3);
        if (Second == std::string::npos) {
            if (!Entries.empty()) // a text with a line break goes on over the next line
                Entries.back().Text += "\r\n" + Line;
            continue;
        }
        Entries.push_back({Line.substr(First + 3, Second - First - 3), Line.substr(Second + 3)});
    }
    return Entries;
}

std::vector<std::string> JournalLines()
{
    std::vector<std::string> Lines;
    // "yyyy-mm-dd hh:nn:ss | " is 22 characters.
    for (const std::string& Line : RawJournalLines())
        Lines.push_back(Line.size() > 22 ? Line.substr(22) : Line);
    return Lines;
}

std::vector<std::string> JournalTexts(const std::string& Level)
{
    std::vector<std::string> Texts;
    for (auto& Entry : JournalEntries())
        if (Entry.Level == Level)
            Texts.push_back(std::move(Entry.Text));
    return Texts;
}

int CountJournal(const std::string& Level, const std::string& Part)
{
    int Count = 0;
    for (const auto& Text : JournalTexts(Level))
        if (Text.find(Part) != std::string::npos)
            ++Count;
    return Count;
}

std::vector<TPluRecord> MakeArticles(int Count, int First)
{
    std::vector<TPluRecord> Items;
    Items.reserve(static_cast<std::size_t>(Count));
    for (int I = 0; I < Count; ++I) {
        TPluRecord R;
        R.Plu = First + I;
        R.Name = "Товар номер " + std::to_string(R.Plu);
        R.PriceCents = 1000 + I;
        std::string Code = std::to_string(1000000 + R.Plu % 9000000);
        R.Barcode = Code.substr(Code.size() - 7);
        R.SellByDays = I % 30;
        R.Ingredients = I % 2 ? "вода\nсоль" : "";
        Items.push_back(std::move(R));
    }
    return Items;
}

int OpenDescriptorCount()
{
#ifdef _WIN32
    // Sockets are handles too.
    DWORD Count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &Count))
        return -1;
    return static_cast<int>(Count);
#else
    std::error_code Error;
    std::filesystem::directory_iterator It("/proc/self/fd", Error);
    if (Error)
        return -1;
    int Count = 0;
    for (; It != std::filesystem::directory_iterator(); It.increment(Error)) {
        if (Error)
            return -1;
        ++Count;
    }
    return Count;
#endif
}

int AddressNotAvailableError()
{
#ifdef _WIN32
    return WSAEADDRNOTAVAIL;
#else
    return EADDRNOTAVAIL;
#endif
}

std::vector<TDigiHit> StartSimsOnDefaultPorts(std::span<Tool::TScaleSim> Sims,
                                              const std::vector<int>& Candidates,
                                              const std::string& Network)
{
    const TLogLevel Level = GetLogLevel();
    SetLogLevel(TLogLevel::llErrors); // the availability probes are nobody's business
    std::vector<TDigiHit> Started;
    for (const int N : Candidates) {
        if (Started.size() == Sims.size())
            break;
        const std::string Ip = Network + std::to_string(N);
        if (TcpProbe(Ip, 2000 + N, 200, ""))
            continue; // taken by someone else
        Tool::TScaleSimOptions Options;
        Options.BindIp = Ip;
        Options.Port = 2000 + N;
        std::string Error;
        if (Sims[Started.size()].Start(std::move(Options), Error))
            Started.push_back({Ip, 2000 + N});
    }
    SetLogLevel(Level);
    return Started;
}

TLoopbackNetwork QuietLoopbackNetwork()
{
    const TLogLevel Level = GetLogLevel();
    SetLogLevel(TLogLevel::llErrors);
    std::random_device Seed;
    std::mt19937 Random(Seed());
    std::uniform_int_distribution<int> Second(1, 254); // 127.0.y. is left to the other tests
    std::uniform_int_distribution<int> Third(0, 255);
    TLoopbackNetwork Quietest;
    for (int Attempt = 0; Attempt < 8; ++Attempt) {
        TLoopbackNetwork Tried;
        Tried.Prefix =
            "127." + std::to_string(Second(Random)) + "." + std::to_string(Third(Random)) + ".";
        // Loopback refuses at once where nothing listens, so the whole network takes moments.
        for (int N = 1; N <= 254; ++N)
            if (TcpProbe(Tried.Prefix + std::to_string(N), 2000 + N, 200, ""))
                Tried.Listening.push_back(N);
        if (Quietest.Prefix.empty() || Tried.Listening.size() < Quietest.Listening.size())
            Quietest = std::move(Tried);
        if (Quietest.Listening.empty())
            break;
    }
    SetLogLevel(Level);
    return Quietest;
}

TUnansweredEndpoint::TUnansweredEndpoint(const std::string& Ip, int Port)
{
    int Error = 0;
    std::uint32_t Loopback = 0;
    ParseIpv4(Ip, Loopback);
    FListener = SocketListen(Loopback, Port, 0, Error);
    if (FListener == NoSocket)
        return;
    FPort = SocketLocalPort(FListener);
    // Connect until one attempt is no longer answered: the queue is then full. A handful is
    // enough for any backlog the system rounds 0 up to.
    for (int Attempt = 0; Attempt < 16; ++Attempt) {
        TSocketHandle Filler = NoSocket;
        if (!TcpConnect(Ip, "", FPort, 100, Filler)) {
            FReady = true;
            return;
        }
        FFillers.push_back(Filler);
    }
}

TUnansweredEndpoint::~TUnansweredEndpoint()
{
    for (const TSocketHandle Filler : FFillers)
        TcpClose(Filler);
    SocketClose(FListener);
}

} // namespace Plumeria::Test
