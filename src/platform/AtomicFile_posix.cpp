#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Plumeria {

namespace {

[[noreturn]] void Fail(const char* What, const std::filesystem::path& Path, int Error)
{
    throw std::filesystem::filesystem_error(What, Path,
                                            std::error_code(Error, std::generic_category()));
}

bool WriteAll(int Fd, std::string_view Bytes)
{
    while (!Bytes.empty()) {
        const ssize_t Written = ::write(Fd, Bytes.data(), Bytes.size());
        if (Written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        Bytes.remove_prefix(static_cast<std::size_t>(Written));
    }
    return true;
}

// The rename is only durable once the folder entry itself is on the disk.
void SyncFolder(const std::filesystem::path& Folder)
{
    const int Fd =
        ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd >= 0) {
        ::fsync(Fd);
        ::close(Fd);
    }
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& Target, std::string_view Bytes)
{
    static std::atomic<unsigned> Counter{0};
    const std::filesystem::path Temp =
        Target.string() + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(Counter++);

    // O_EXCL: never write through a file or link someone else put under that name.
    const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd < 0)
        Fail("cannot create temporary file", Temp, errno);

    // Keep the permissions of the file being replaced.
    struct stat Old
    {
    };
    if (::stat(Target.c_str(), &Old) == 0 && S_ISREG(Old.st_mode))
        ::fchmod(Fd, Old.st_mode & 07777);

    int Error = 0;
    if (!WriteAll(Fd, Bytes) || ::fsync(Fd) != 0)
        Error = errno != 0 ? errno : EIO;
    if (::close(Fd) != 0 && Error == 0)
        Error = errno;
    if (Error == 0 && ::rename(Temp.c_str(), Target.c_str()) != 0)
        Error = errno;
    if (Error != 0) {
        ::unlink(Temp.c_str());
        Fail("cannot write file", Target, Error);
    }
    SyncFolder(Target.parent_path());
}

} // namespace Plumeria
