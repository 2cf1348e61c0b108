#pragma once
// A DIGI scale simulator: a TCP server on a loopback address that takes connections one after
// another, reads whole frames (the length at frame offsets 6-7 counts the bytes after the first
// two) and acknowledges each with 0x06, or misbehaves on purpose as configured. The `plumeria
// scale-sim` command runs it standalone; tests and benchmarks run it in-process.

#include "platform/Sockets.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Plumeria::Tool {

/// What the simulator does with one frame.
struct TSimAnswer
{
    enum class TAction : std::uint8_t
    {
        saReply,  ///< send `Bytes` (may be empty) and read on
        saClose,  ///< close the connection without answering
        saSilent, ///< answer nothing from now on, but keep reading until the client leaves
    };
    TAction Action = TAction::saReply;
    std::vector<std::uint8_t> Bytes{0x06};
};

struct TSimFrame
{
    int Connection = 0; ///< 1-based number of the connection the frame came on
    int Number = 0;     ///< 1-based number of the frame within its connection
    std::vector<std::uint8_t> Bytes;
};

struct TScaleSimOptions
{
    std::string BindIp = "127.0.0.1";
    int Port = 0; ///< 0: any free port (see TScaleSim::Port)
    int Backlog = 8;
    /// Chooses the answer to each frame; empty = acknowledge every frame with 0x06.
    std::function<TSimAnswer(const TSimFrame&)> Answer;
    /// Called on the simulator's thread for every whole frame, before it is answered.
    std::function<void(const TSimFrame&)> OnFrame;
    /// Keep every frame for Frames() (off for long benchmark runs).
    bool KeepFrames = true;
};

/// Cuts the bytes one connection has received into whole frames: the length at frame offsets
/// 6-7 counts the bytes after the first two, so a frame is that length plus 2 bytes. A frame that
/// claims fewer than its own 8 header bytes is no frame.
class TSimFrameReader
{
public:
    enum class TNext : std::uint8_t
    {
        fnFrame, ///< `Frame` holds the next whole frame
        fnMore,  ///< the next frame is not complete yet: append more bytes
        fnBad,   ///< the bytes are not a frame; the connection is to be dropped
    };

    void Append(const std::uint8_t* Bytes, std::size_t Count);
    TNext Next(std::vector<std::uint8_t>& Frame);
    /// Forgets everything received so far.
    void Clear();

private:
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPos = 0; ///< where the next frame starts in `FBuffer`
};

/// Answers for the command-line switches: frames beyond the first N of a connection get 0x15,
/// end the connection, or get no answer at all. A negative N leaves that behaviour off.
std::function<TSimAnswer(const TSimFrame&)> SimAnswerAfter(int NakAfter, int CloseAfter,
                                                           int SilentAfter);

/// True for an IPv4 address in 127.0.0.0/8.
bool IsLoopbackIp(const std::string& Ip);

class TScaleSim
{
public:
    TScaleSim() = default;
    ~TScaleSim();
    TScaleSim(const TScaleSim&) = delete;
    TScaleSim& operator=(const TScaleSim&) = delete;

    /// Binds and starts serving on a thread of its own. False with `Error` set when the address
    /// cannot be used.
    bool Start(TScaleSimOptions Options, std::string& Error);
    /// Stops serving, closes any connection and joins the thread. Idempotent.
    void Stop();

    int Port() const { return FPort; }
    int Connections() const { return FConnections.load(); }
    int FrameCount() const { return FFrameCount.load(); }
    /// Copies of the frames received so far, in order (when KeepFrames is on).
    std::vector<TSimFrame> Frames() const;
    /// Waits until `Count` connections have ended or `TimeoutMs` passed; true when they have.
    bool WaitConnectionsClosed(int Count, int TimeoutMs) const;

private:
    void Serve();
    void ServeConnection(TSocketHandle Client, int Connection);

    TScaleSimOptions FOptions;
    TSocketHandle FListener = NoSocket;
    int FPort = 0;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::mutex FClientLock; ///< guards FClient, so Stop never touches a socket being closed
    TSocketHandle FClient = NoSocket;
    std::atomic<int> FConnections{0};
    std::atomic<int> FClosedConnections{0};
    std::atomic<int> FFrameCount{0};
    mutable std::mutex FLock;
    std::vector<TSimFrame> FFrames;
};

} // namespace Plumeria::Tool
