#include "platform/FileSwap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Plumeria {

namespace {

std::string SystemMessage(int Code)
{
    return std::strerror(Code);
}

/// Makes a new or renamed directory entry survive a power cut; a failure only loses that.
void SyncFolderOf(const std::filesystem::path& Path)
{
    const std::filesystem::path Folder =
        Path.has_parent_path() ? Path.parent_path() : std::filesystem::path(".");
    const int Fd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd >= 0) {
        fsync(Fd);
        close(Fd);
    }
}

} // namespace

bool RenameNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                     std::string& Error)
{
    if (renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) {
        SyncFolderOf(To);
        return true;
    }
    const int Code = errno;
    if (Code != EINVAL && Code != ENOSYS && Code != ENOTSUP) {
        Error = SystemMessage(Code);
        return false;
    }
    // A file system without RENAME_NOREPLACE: a hard link fails just as well on an existing
    // target, and the old name goes once the new one exists.
    if (link(From.c_str(), To.c_str()) != 0) {
        Error = SystemMessage(errno);
        return false;
    }
    if (unlink(From.c_str()) != 0) {
        Error = SystemMessage(errno);
        unlink(To.c_str());
        return false;
    }
    SyncFolderOf(To);
    return true;
}

bool WriteNewFile(const std::filesystem::path& Path, std::span<const std::uint8_t> Data,
                  std::size_t Chunk, std::string& Error)
{
    const int Fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Fd < 0) {
        Error = SystemMessage(errno);
        return false;
    }
    Chunk = std::max<std::size_t>(Chunk, 1);
    for (std::size_t Pos = 0; Pos < Data.size();) {
        const std::size_t Count = std::min(Chunk, Data.size() - Pos);
        const ssize_t Written = write(Fd, Data.data() + Pos, Count);
        if (Written < 0) {
            if (errno == EINTR)
                continue;
            Error = SystemMessage(errno);
            close(Fd);
            return false;
        }
        Pos += static_cast<std::size_t>(Written);
    }
    // The old executable is only a backup once the new one is really on the disk.
    if (fsync(Fd) != 0) {
        Error = SystemMessage(errno);
        close(Fd);
        return false;
    }
    if (close(Fd) != 0) {
        Error = SystemMessage(errno);
        return false;
    }
    SyncFolderOf(Path);
    return true;
}

bool KeepAsBackup(const std::filesystem::path& File, const std::filesystem::path& Backup,
                  std::string& Error)
{
    if (link(File.c_str(), Backup.c_str()) == 0) {
        SyncFolderOf(Backup);
        return true;
    }
    const int Code = errno;
    // Only a file system that cannot link at all falls back to the rename; an existing backup
    // or a missing file is a failure either way.
    if (Code != EPERM && Code != EOPNOTSUPP && Code != EMLINK && Code != ENOSYS) {
        Error = SystemMessage(Code);
        return false;
    }
    return RenameNoReplace(File, Backup, Error);
}

bool RenameOver(const std::filesystem::path& From, const std::filesystem::path& To,
                std::string& Error)
{
    if (rename(From.c_str(), To.c_str()) != 0) {
        Error = SystemMessage(errno);
        return false;
    }
    SyncFolderOf(To);
    return true;
}

} // namespace Plumeria
