#include "platform/DirWatch.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace Plumeria {

namespace {

// Every kind of change in the folder that can make a file appear, grow, vanish or be let go by
// its writer, and the events of the folder itself going away.
constexpr std::uint32_t WatchEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                      IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

struct TDirWatch::TImpl
{
    int StopFd = -1;   ///< eventfd: readable once the stop is signalled (never drained)
    int NotifyFd = -1; ///< inotify instance of the open folder
    bool Lost = false; ///< the folder itself was deleted, moved or unmounted
    std::vector<std::filesystem::path> Closed;

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
                if ((Event.mask & IN_CLOSE_WRITE) && Event.len > 0 && Name[0] != '\0')
                    Closed.emplace_back(std::string(Name));
                if (Event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
                    Lost = true;
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
    if (::inotify_add_watch(Fd, Folder.c_str(), WatchEvents) < 0) {
        ::close(Fd);
        return false;
    }
    FImpl->NotifyFd = Fd;
    FImpl->Lost = false;
    return true;
}

void TDirWatch::Close()
{
    if (FImpl->NotifyFd >= 0) {
        ::close(FImpl->NotifyFd);
        FImpl->NotifyFd = -1;
    }
    FImpl->Closed.clear();
}

bool TDirWatch::Request()
{
    // inotify reports continuously once the watch is added; the request only fails once the
    // kernel dropped the watch together with the folder.
    return FImpl->NotifyFd >= 0 && !FImpl->Lost;
}

TDirWait TDirWatch::Wait(std::uint32_t Ms)
{
    pollfd Fds[2] = {{FImpl->StopFd, POLLIN, 0}, {FImpl->NotifyFd, POLLIN, 0}};
    const nfds_t Count = FImpl->NotifyFd >= 0 ? 2 : 1;
    const int Result = ::poll(Fds, Count, static_cast<int>(Ms));
    if (Result <= 0)
        return TDirWait::dwTimeout; // EINTR counts as a time-out: the caller scans anyway
    if (Fds[0].revents != 0)
        return TDirWait::dwStop;
    FImpl->Drain();
    return TDirWait::dwChange;
}

std::vector<std::filesystem::path> TDirWatch::TakeClosedAfterWrite()
{
    std::vector<std::filesystem::path> Names;
    Names.swap(FImpl->Closed);
    return Names;
}

} // namespace Plumeria
