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
    // Asked only after a failure, so that an ordinary entry costs no more than its three calls;
    // the file's size is then its old size plus what did get written.
    const std::size_t Piece = Bytes.size() - Left;
    struct stat After
    {
    };
    if (!Written && Piece > 0 && ::fstat(Fd, &After) == 0 &&
        static_cast<std::uintmax_t>(After.st_size) >= Piece)
        (void)::ftruncate(Fd, After.st_size - static_cast<off_t>(Piece));
    // A close that fails may have lost the bytes (a full or remote disk reports it here).
    if (::close(Fd) != 0 && errno != EINTR)
        Written = false;
    return Written ? TAppendResult::arDone : TAppendResult::arFailed;
}

} // namespace Plumeria
