#pragma once
// Helpers for the tests that talk to scales on loopback: the journal read back as entries,
// numbered articles that encode, the process's open descriptor count, and an endpoint that never
// completes a connect.

#include "core/Types/Types.h"
#include "platform/Sockets.h"

#include <string>
#include <vector>

namespace Plumeria::Test {

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

/// A listening socket on 127.0.0.1 whose accept queue is full and never drained: further
/// connection attempts get no answer and run into their time-out.
class TUnansweredEndpoint
{
public:
    TUnansweredEndpoint();
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
