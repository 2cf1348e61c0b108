#pragma once
// Helpers for the tests that talk to scales on loopback: the journal read back as entries,
// numbered articles that encode, the process's open descriptor count, and an endpoint that never
// completes a connect.

#include "core/DigiSearch/SubnetScan.h"
#include "core/Types/Types.h"
#include "platform/Sockets.h"
#include "tool/ScaleSim.h"

#include <span>
#include <string>
#include <vector>

namespace Plumeria::Test {

/// The time-out for uploads to the simulator: long enough for it to answer on a loaded machine
/// under Wine (100 ms was not); only a scale that stays silent makes a test wait it out.
constexpr int SimAnswerWaitMs = 1000;

struct TJournalEntry
{
    std::string Level; ///< "INFO", "WARN", "ERROR", "EXCH"
    std::string Text;
};

/// Today's journal file split into entries (the time stamp dropped).
std::vector<TJournalEntry> JournalEntries();
/// The texts of the entries of one level, in order.
std::vector<std::string> JournalTexts(const std::string& Level);
/// Number of entries of `Level` whose text contains `Part`.
int CountJournal(const std::string& Level, const std::string& Part);
/// Today's journal file line by line with the time stamp dropped: "INFO | text".
std::vector<std::string> JournalLines();

/// `Count` articles with PLU First, First+1, ..., each accepted by the DIGI encoder.
std::vector<TPluRecord> MakeArticles(int Count, int First = 1);

/// Number of descriptors the process has open (/proc/self/fd; on Windows its handle count, sockets
/// included); -1 where that cannot be told.
int OpenDescriptorCount();

/// The platform's error number for binding to an address no local adapter has (EADDRNOTAVAIL,
/// WSAEADDRNOTAVAIL): the number the transport journals as "bind error N".
int AddressNotAvailableError();

/// Starts one simulator per element of `Sims` on `Network`N (127.0.0.N by default) at its DIGI
/// default port 2000 + N, taking N from `Candidates` in order and skipping ports that something
/// already answers. Returns the scales started, as a scan would report them (fewer than asked
/// when the candidates ran out). The availability probes stay out of the journal.
std::vector<TDigiHit> StartSimsOnDefaultPorts(std::span<Tool::TScaleSim> Sims,
                                              const std::vector<int>& Candidates,
                                              const std::string& Network = "127.0.0.");

/// A loopback /24 network for a scan, and the hosts of it whose DIGI default port something
/// else already answers.
struct TLoopbackNetwork
{
    std::string Prefix;         ///< "127.x.y."
    std::vector<int> Listening; ///< host numbers N whose port 2000 + N answered, ascending
};

/// A loopback /24 network "127.x.y." picked at random (never 127.0.y.), with as few hosts as
/// possible answering their DIGI default port: the first one tried where none does, else the
/// quietest of a few. Only a program listening on all addresses at a DIGI default port answers
/// in every network; its hosts are in `Listening`, so a test knows what a scan finds besides its
/// own simulators. The checking probes stay out of the journal.
TLoopbackNetwork QuietLoopbackNetwork();

/// A listening socket on a loopback address (127.0.0.1 and any free port by default) whose
/// accept queue is full and never drained: further connection attempts get no answer and run
/// into their time-out.
class TUnansweredEndpoint
{
public:
    explicit TUnansweredEndpoint(const std::string& Ip = "127.0.0.1", int Port = 0);
    ~TUnansweredEndpoint();
    TUnansweredEndpoint(const TUnansweredEndpoint&) = delete;
    TUnansweredEndpoint& operator=(const TUnansweredEndpoint&) = delete;

    /// False when the queue could not be filled (then the port answers after all).
    bool Ready() const { return FReady; }
    int Port() const { return FPort; }

private:
    TSocketHandle FListener = NoSocket;
    std::vector<TSocketHandle> FFillers;
    int FPort = 0;
    bool FReady = false;
};

} // namespace Plumeria::Test
