#include "tool/ScaleSim.h"

#include "core/DigiSearch/TcpTransport.h"
#include "platform/Clock.h"

#include <chrono>

namespace Plumeria::Tool {

namespace {

/// How often the serving thread looks at its stop flag while it waits.
constexpr int PollMs = 50;
constexpr std::size_t HeaderBytes = 8;

bool SendAll(TSocketHandle Client, const std::vector<std::uint8_t>& Bytes)
{
    std::size_t Sent = 0;
    while (Sent < Bytes.size()) {
        int Error = 0;
        const std::ptrdiff_t Done =
            SocketSend(Client, Bytes.data() + Sent, Bytes.size() - Sent, Error);
        if (Done <= 0)
            return false;
        Sent += static_cast<std::size_t>(Done);
    }
    return true;
}

} // namespace

void TSimFrameReader::Append(const std::uint8_t* Bytes, std::size_t Count)
{
    // Whatever was taken already goes first, so the buffer never grows beyond one partial frame
    // and the bytes of one receive.
    FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(FPos));
    FPos = 0;
    FBuffer.insert(FBuffer.end(), Bytes, Bytes + Count);
}

TSimFrameReader::TNext TSimFrameReader::Next(std::vector<std::uint8_t>& Frame)
{
    if (FBuffer.size() - FPos < HeaderBytes)
        return TNext::fnMore;
    const std::size_t Length =
        static_cast<std::size_t>(FBuffer[FPos + 6]) * 256 + FBuffer[FPos + 7] + 2;
    if (Length < HeaderBytes)
        return TNext::fnBad;
    if (FBuffer.size() - FPos < Length)
        return TNext::fnMore;
    const auto Begin = FBuffer.begin() + static_cast<std::ptrdiff_t>(FPos);
    Frame.assign(Begin, Begin + static_cast<std::ptrdiff_t>(Length));
    FPos += Length;
    return TNext::fnFrame;
}

void TSimFrameReader::Clear()
{
    FBuffer.clear();
    FPos = 0;
}

std::function<TSimAnswer(const TSimFrame&)> SimAnswerAfter(int NakAfter, int CloseAfter,
                                                           int SilentAfter)
{
    return [=](const TSimFrame& Frame) {
        TSimAnswer Answer;
        if (CloseAfter >= 0 && Frame.Number > CloseAfter)
            Answer.Action = TSimAnswer::TAction::saClose;
        else if (SilentAfter >= 0 && Frame.Number > SilentAfter)
            Answer.Action = TSimAnswer::TAction::saSilent;
        else if (NakAfter >= 0 && Frame.Number > NakAfter)
            Answer.Bytes = {0x15};
        return Answer;
    };
}

bool IsLoopbackIp(const std::string& Ip)
{
    std::uint32_t Value = 0;
    return ParseIpv4(Ip, Value) && (Value >> 24) == 127;
}

TScaleSim::~TScaleSim()
{
    Stop();
}

bool TScaleSim::Start(TScaleSimOptions Options, std::string& Error)
{
    Stop();
    FOptions = std::move(Options);
    std::uint32_t Ip = 0;
    if (!ParseIpv4(FOptions.BindIp, Ip)) {
        Error = "not an IPv4 address: " + FOptions.BindIp;
        return false;
    }
    if (FOptions.Port < 0 || FOptions.Port > 65535) {
        Error = "port out of range";
        return false;
    }
    int Code = 0;
    FListener = SocketListen(Ip, FOptions.Port, FOptions.Backlog, Code);
    if (FListener == NoSocket) {
        Error = "cannot listen on " + FOptions.BindIp + ":" + std::to_string(FOptions.Port) + ": " +
                SocketErrorText(Code);
        return false;
    }
    FPort = SocketLocalPort(FListener);
    FConnections = 0;
    FClosedConnections = 0;
    FFrameCount = 0;
    {
        std::lock_guard Guard(FLock);
        FFrames.clear();
    }
    FStop = false;
    FThread = std::thread([this] { Serve(); });
    return true;
}

void TScaleSim::Stop()
{
    FStop = true;
    {
        // Wakes the serving thread out of its blocking receive.
        std::lock_guard Guard(FClientLock);
        SocketShutdown(FClient);
    }
    if (FThread.joinable())
        FThread.join();
    SocketClose(FListener);
    FListener = NoSocket;
}

std::vector<TSimFrame> TScaleSim::Frames() const
{
    std::lock_guard Guard(FLock);
    return FFrames;
}

bool TScaleSim::WaitConnectionsClosed(int Count, int TimeoutMs) const
{
    const std::uint64_t Deadline = MonotonicTickMs() + static_cast<std::uint64_t>(TimeoutMs);
    while (FClosedConnections.load() < Count) {
        if (MonotonicTickMs() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void TScaleSim::Serve()
{
    while (!FStop) {
        int Error = 0;
        const TSocketHandle Client = SocketAccept(FListener, PollMs, Error);
        if (Client == NoSocket) {
            if (Error != 0) // out of descriptors or the like: do not spin on it
                std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
            continue;
        }
        const int Connection = ++FConnections;
        int Ignored = 0;
        SocketSetNoDelay(Client, Ignored);
        {
            std::lock_guard Guard(FClientLock);
            FClient = Client;
        }
        if (!FStop)
            ServeConnection(Client, Connection);
        {
            std::lock_guard Guard(FClientLock);
            FClient = NoSocket;
        }
        SocketClose(Client);
        ++FClosedConnections;
    }
}

void TScaleSim::ServeConnection(TSocketHandle Client, int Connection)
{
    TSimFrameReader Reader;
    std::vector<std::uint8_t> Chunk(64 * 1024);
    int Number = 0;
    bool Silent = false;
    while (!FStop) {
        // A plain blocking receive, as a scale's firmware would do: Stop() shuts the connection
        // down to wake it, so no time-out polling costs a call per frame.
        int Error = 0;
        const std::ptrdiff_t Count = SocketReceive(Client, Chunk.data(), Chunk.size(), Error);
        if (Count < 0 && SocketErrorWouldBlock(Error))
            continue;
        if (Count <= 0)
            return; // the client left, the connection broke, or Stop() shut it down
        if (Silent)
            continue;
        Reader.Append(Chunk.data(), static_cast<std::size_t>(Count));

        // Answer every whole frame received; a partial one waits for more bytes.
        TSimFrame Frame;
        for (;;) {
            const TSimFrameReader::TNext Next = Reader.Next(Frame.Bytes);
            if (Next == TSimFrameReader::TNext::fnBad)
                return; // not a frame: a real scale would drop such a client too
            if (Next == TSimFrameReader::TNext::fnMore)
                break;
            Frame.Connection = Connection;
            Frame.Number = ++Number;
            ++FFrameCount;
            if (FOptions.OnFrame)
                FOptions.OnFrame(Frame);
            const TSimAnswer Answer = FOptions.Answer ? FOptions.Answer(Frame) : TSimAnswer{};
            if (FOptions.KeepFrames) {
                std::lock_guard Guard(FLock);
                FFrames.push_back(std::move(Frame));
            }
            if (Answer.Action == TSimAnswer::TAction::saClose)
                return;
            if (Answer.Action == TSimAnswer::TAction::saSilent) {
                Silent = true;
                break;
            }
            if (!SendAll(Client, Answer.Bytes))
                return;
        }
        if (Silent)
            Reader.Clear();
    }
}

} // namespace Plumeria::Tool
