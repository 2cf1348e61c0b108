#include "platform/DirWatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace Plumeria {

namespace {

// Every kind of change in the folder that can make a file appear, grow, vanish or be let go by
// its writer, and the events of the folder itself going away.
constexpr std::uint32_t WatchEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                      IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_ONLYDIR;
// Opens and closes without writing change nothing in the folder: they are counted, not scanned
// for.
constexpr std::uint32_t UseEvents = IN_OPEN | IN_CLOSE_NOWRITE;

/// An event after which a listing of the folder may find something new. The watch's own listing
/// opens and closes the folder itself (IN_OPEN / IN_CLOSE_NOWRITE with IN_ISDIR and no name):
/// waking for those would have it list again at once, for ever; nor do a subfolder's opens and
/// closes change anything.
bool ChangesListing(const inotify_event& Event, const char* Name)
{
    constexpr std::uint32_t FolderGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
    if (Event.mask & (FolderGone | IN_Q_OVERFLOW))
        return true;
    const bool AboutFolderItself = Event.len == 0 || Name[0] == '\0';
    const std::uint32_t Change =
        Event.mask & WatchEvents & ~(IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
    return !AboutFolderItself && Change != 0;
}

/// File systems whose files may be written from another machine: inotify sees only what this
/// machine does there.
bool IsNetworkFileSystem(const std::filesystem::path& Folder)
{
    struct statfs Info
    {
    };
    if (::statfs(Folder.c_str(), &Info) != 0)
        return true; // unknown: do not rely on events
    switch (static_cast<unsigned long>(Info.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x65735546UL: // FUSE (sshfs and the like)
    case 0x5346414FUL: // AFS
    case 0x00C36400UL: // Ceph
    case 0x01021997UL: // 9P
    case 0x73757245UL: // Coda
    case 0x564CUL:     // NCP
        return true;
    default:
        return false;
    }
}

} // namespace

struct TDirWatch::TImpl
{
    int StopFd = -1;   ///< eventfd: readable once the stop is signalled (never drained)
    int NotifyFd = -1; ///< inotify instance of the open folder
    bool Lost = false; ///< the folder itself was deleted, moved or unmounted
    bool Network = true;
    bool Overflowed = false;
    std::map<std::string, TFileUse> Use;
    bool Changed = false; ///< an event that can change what a scan finds

    void Count(const char* Name, std::uint32_t Mask)
    {
        if (!(Mask & (IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)))
            return;
        TFileUse& File = Use[Name];
        if (File.Name.empty())
            File.Name = std::string(Name);
        if (Mask & IN_OPEN)
            ++File.Opens;
        if (Mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE))
            ++File.Closes;
        if (Mask & IN_CLOSE_WRITE)
            File.ClosedAfterWrite = true;
    }

    void Drain()
    {
        alignas(inotify_event) char Buffer[16 * 1024];
        for (;;) {
            const ssize_t Length = ::read(NotifyFd, Buffer, sizeof Buffer);
            if (Length <= 0) {
                if (Length < 0 && errno == EINTR)
                    continue;
                return; // EAGAIN: drained
            }
            for (ssize_t Pos = 0; Pos < Length;) {
                inotify_event Event;
                std::memcpy(&Event, Buffer + Pos, sizeof Event);
                const char* Name = Buffer + Pos + sizeof(inotify_event);
                if (Event.len > 0 && Name[0] != '\0')
                    Count(Name, Event.mask);
                if (Event.mask & IN_Q_OVERFLOW)
                    Overflowed = true;
                if (Event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
                    Lost = true;
                if (ChangesListing(Event, Name))
                    Changed = true;
                Pos += static_cast<ssize_t>(sizeof(inotify_event) + Event.len);
            }
        }
    }
};

TDirWatch::TDirWatch() : FImpl(std::make_unique<TImpl>())
{
    FImpl->StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FImpl->StopFd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create the stop signal");
}

TDirWatch::~TDirWatch()
{
    Close();
    ::close(FImpl->StopFd);
}

void TDirWatch::SignalStop()
{
    const std::uint64_t One = 1;
    // The counter only has to become non-zero; a full counter (never reached) is set already.
    while (::write(FImpl->StopFd, &One, sizeof One) < 0 && errno == EINTR) {
    }
}

bool TDirWatch::WaitForStop(std::uint32_t Ms)
{
    pollfd Fd{FImpl->StopFd, POLLIN, 0};
    for (;;) {
        const int Result = ::poll(&Fd, 1, static_cast<int>(Ms));
        if (Result >= 0)
            return Result > 0;
        if (errno != EINTR)
            return false;
    }
}

bool TDirWatch::Open(const std::filesystem::path& Folder)
{
    Close();
    const int Fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Fd < 0)
        return false;
    if (::inotify_add_watch(Fd, Folder.c_str(), WatchEvents | UseEvents) < 0) {
        ::close(Fd);
        return false;
    }
    FImpl->NotifyFd = Fd;
    FImpl->Lost = false;
    FImpl->Network = IsNetworkFileSystem(Folder);
    return true;
}

void TDirWatch::Close()
{
    if (FImpl->NotifyFd >= 0) {
        ::close(FImpl->NotifyFd);
        FImpl->NotifyFd = -1;
    }
    FImpl->Use.clear();
    FImpl->Overflowed = false;
}

bool TDirWatch::Request()
{
    // inotify reports continuously once the watch is added; the request only fails once the
    // kernel dropped the watch together with the folder.
    return FImpl->NotifyFd >= 0 && !FImpl->Lost;
}

TDirWait TDirWatch::Wait(std::uint32_t Ms)
{
    // Opens and plain reads (the watch's own look at a file among them) are only counted: waking
    // the watch for them would have it look again, and so on for ever.
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    for (;;) {
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
            Deadline - std::chrono::steady_clock::now());
        pollfd Fds[2] = {{FImpl->StopFd, POLLIN, 0}, {FImpl->NotifyFd, POLLIN, 0}};
        const nfds_t Count = FImpl->NotifyFd >= 0 ? 2 : 1;
        const int Result =
            ::poll(Fds, Count, static_cast<int>(std::max<std::int64_t>(Left.count(), 0)));
        if (Result <= 0)
            return TDirWait::dwTimeout; // EINTR counts as a time-out: the caller scans anyway
        if (Fds[0].revents != 0)
            return TDirWait::dwStop;
        FImpl->Changed = false;
        FImpl->Drain();
        if (FImpl->Changed || FImpl->Lost || FImpl->Overflowed)
            return TDirWait::dwChange;
    }
}

std::vector<TFileUse> TDirWatch::TakeFileUse(bool& Overflowed)
{
    Overflowed = std::exchange(FImpl->Overflowed, false);
    std::vector<TFileUse> Files;
    Files.reserve(FImpl->Use.size());
    for (auto& [Name, File] : FImpl->Use)
        Files.push_back(std::move(File));
    FImpl->Use.clear();
    return Files;
}

bool TDirWatch::ReportsOpens() const
{
    return FImpl->NotifyFd >= 0 && !FImpl->Network;
}

} // namespace Plumeria
