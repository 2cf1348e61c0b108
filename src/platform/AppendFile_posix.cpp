#include "platform/AppendFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Plumeria {

TAppendResult AppendToFile(const std::filesystem::path& File, std::string_view Bytes)
{
    int Fd = -1;
    do {
        Fd = ::open(File.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0)
        return errno == ENOENT ? TAppendResult::arFolderMissing : TAppendResult::arFailed;
    struct stat Before
    {
    };
    const bool SizeKnown = ::fstat(Fd, &Before) == 0;
    bool Written = true;
    const char* Next = Bytes.data();
    std::size_t Left = Bytes.size();
    while (Left > 0) {
        const ssize_t Count = ::write(Fd, Next, Left);
        if (Count < 0 && errno == EINTR)
            continue;
        if (Count <= 0) {
            Written = false;
            break;
        }
        Next += Count;
        Left -= static_cast<std::size_t>(Count);
    }
    if (!Written && SizeKnown && Left < Bytes.size())
        (void)::ftruncate(Fd, Before.st_size);
    // A close that fails may have lost the bytes (a full or remote disk reports it here).
    if (::close(Fd) != 0 && errno != EINTR)
        Written = false;
    return Written ? TAppendResult::arDone : TAppendResult::arFailed;
}

} // namespace Plumeria
