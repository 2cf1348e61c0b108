#include "platform/FileOps.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Plumeria {

namespace {

std::string Utf8Of(const std::filesystem::path& Path)
{
    const std::u8string Text = Path.u8string();
    return std::string(Text.begin(), Text.end());
}

std::string MoveError(const std::filesystem::path& From, const std::filesystem::path& To, int Error,
                      const char* Stage = nullptr)
{
    std::string Text = Utf8Of(From) + " -> " + Utf8Of(To) + ": ";
    if (Stage) {
        Text += Stage;
        Text += ": ";
    }
    return Text + std::generic_category().message(Error);
}

void SyncFolder(const std::filesystem::path& Folder)
{
    const int Fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd >= 0) {
        ::fsync(Fd);
        ::close(Fd);
    }
}

// A same-file-system rename that fails with EEXIST instead of replacing. File systems without
// RENAME_NOREPLACE get a hard link and an unlink (the link fails on an existing name too).
// Returns 0 or the errno of the failure.
int RenameNoReplace(const std::filesystem::path& From, const std::filesystem::path& To)
{
    if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int Error = errno;
    if (Error != EINVAL && Error != ENOSYS && Error != ENOTSUP)
        return Error;

    if (::link(From.c_str(), To.c_str()) == 0) {
        if (::unlink(From.c_str()) == 0)
            return 0;
        const int UnlinkError = errno;
        ::unlink(To.c_str());
        return UnlinkError;
    }
    const int LinkError = errno;
    if (LinkError != EPERM && LinkError != ENOTSUP && LinkError != EMLINK)
        return LinkError;

    // No hard links either (FAT and the like): claim the name with an exclusive create, then
    // rename over that placeholder, which is ours.
    const int Fd = ::open(To.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (Fd < 0)
        return errno;
    ::close(Fd);
    if (::rename(From.c_str(), To.c_str()) == 0)
        return 0;
    const int RenameError = errno;
    ::unlink(To.c_str());
    return RenameError;
}

bool WriteAll(int Fd, const char* Data, std::size_t Size)
{
    while (Size > 0) {
        const ssize_t Written = ::write(Fd, Data, Size);
        if (Written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        Data += Written;
        Size -= static_cast<std::size_t>(Written);
    }
    return true;
}

// Copies `From` into a temporary file beside `To`, with its permissions and times, and flushes
// it to the disk. Returns 0 or the errno of the failure (the temporary file is then gone).
int CopyToTemp(const std::filesystem::path& From, const std::filesystem::path& Temp)
{
    const int Source = ::open(From.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (Source < 0)
        return errno;
    struct stat Info
    {
    };
    if (::fstat(Source, &Info) != 0 || !S_ISREG(Info.st_mode)) {
        const int Error = S_ISREG(Info.st_mode) || Info.st_mode == 0 ? errno : EINVAL;
        ::close(Source);
        return Error;
    }
    const int Target = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (Target < 0) {
        const int Error = errno;
        ::close(Source);
        return Error;
    }

    int Error = 0;
    char Buffer[64 * 1024];
    for (;;) {
        const ssize_t Read = ::read(Source, Buffer, sizeof Buffer);
        if (Read == 0)
            break;
        if (Read < 0) {
            if (errno == EINTR)
                continue;
            Error = errno;
            break;
        }
        if (!WriteAll(Target, Buffer, static_cast<std::size_t>(Read))) {
            Error = errno;
            break;
        }
    }
    if (Error == 0) {
        ::fchmod(Target, Info.st_mode & 07777);
        const timespec Times[2] = {Info.st_atim, Info.st_mtim};
        ::futimens(Target, Times);
        if (::fsync(Target) != 0)
            Error = errno;
    }
    if (::close(Target) != 0 && Error == 0)
        Error = errno;
    ::close(Source);
    if (Error != 0)
        ::unlink(Temp.c_str());
    return Error;
}

bool MoveAcrossFileSystems(const std::filesystem::path& From, const std::filesystem::path& To,
                           std::string& Message)
{
    static std::atomic<unsigned> Counter{0};
    // "~" keeps a watch on the target folder from ever taking the half-copied file for a new one.
    const std::filesystem::path Temp =
        To.parent_path() / ("~" + To.filename().string() + "." + std::to_string(::getpid()) + "." +
                            std::to_string(Counter++) + ".part");

    if (const int Error = CopyToTemp(From, Temp); Error != 0) {
        Message = MoveError(From, To, Error, "copy");
        return false;
    }
    if (const int Error = RenameNoReplace(Temp, To); Error != 0) {
        ::unlink(Temp.c_str());
        Message = MoveError(From, To, Error);
        return false;
    }
    SyncFolder(To.parent_path());
    // Only now that the copy is whole in its place may the original go; if it cannot, the copy
    // goes instead, so the file is never in two places.
    if (::unlink(From.c_str()) != 0) {
        const int Error = errno;
        ::unlink(To.c_str());
        SyncFolder(To.parent_path());
        Message = MoveError(From, To, Error, "remove original");
        return false;
    }
    SyncFolder(From.parent_path());
    return true;
}

} // namespace

bool FileNamesIgnoreCase()
{
    return false;
}

bool IsExistingFolder(const std::filesystem::path& Path)
{
    struct stat Info
    {
    };
    return !Path.empty() && ::stat(Path.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode);
}

std::int64_t FileSizeOf(const std::filesystem::path& Path)
{
    struct stat Info
    {
    };
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return -1;
    return static_cast<std::int64_t>(Info.st_size);
}

bool IsReadOnlyFile(const std::filesystem::path& Path)
{
    struct stat Info
    {
    };
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    // The permission bits first: the superuser may write anything, yet a file that nobody may
    // write is still meant to stay as it is.
    if ((Info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return true;
    return ::access(Path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

bool FileStampOf(const std::filesystem::path& Path, TFileStamp& Stamp)
{
    struct stat Info
    {
    };
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    Stamp.Size = static_cast<std::int64_t>(Info.st_size);
    Stamp.Modified = static_cast<std::int64_t>(Info.st_mtim.tv_sec) * 1000000000 +
                     static_cast<std::int64_t>(Info.st_mtim.tv_nsec);
    return true;
}

bool FileIdentityOf(const std::filesystem::path& Path, TFileIdentity& Identity)
{
    struct stat Info
    {
    };
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    Identity.Volume = static_cast<std::uint64_t>(Info.st_dev);
    Identity.File = static_cast<std::uint64_t>(Info.st_ino);
    Identity.Stamp.Size = static_cast<std::int64_t>(Info.st_size);
    Identity.Stamp.Modified = static_cast<std::int64_t>(Info.st_mtim.tv_sec) * 1000000000 +
                              static_cast<std::int64_t>(Info.st_mtim.tv_nsec);
    return true;
}

std::size_t FileNameUnits(const std::filesystem::path& Name)
{
    return Name.native().size();
}

bool ReadWholeFile(const std::filesystem::path& Path, std::string& Bytes, std::string& Error)
{
    Bytes.clear();
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (Fd < 0) {
        Error = "cannot open " + Utf8Of(Path) + ": " + std::generic_category().message(errno);
        return false;
    }
    char Buffer[64 * 1024];
    for (;;) {
        const ssize_t Read = ::read(Fd, Buffer, sizeof Buffer);
        if (Read == 0)
            break;
        if (Read < 0) {
            if (errno == EINTR)
                continue;
            Error = "cannot read " + Utf8Of(Path) + ": " + std::generic_category().message(errno);
            ::close(Fd);
            Bytes.clear();
            return false;
        }
        Bytes.append(Buffer, static_cast<std::size_t>(Read));
    }
    ::close(Fd);
    return true;
}

bool WriteNewFile(const std::filesystem::path& Path, const std::string& Bytes, std::string& Error)
{
    // O_EXCL with O_CREAT fails on any existing name, a dangling link included, and never
    // follows a link.
    const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (Fd < 0) {
        Error = "cannot create " + Utf8Of(Path) + ": " + std::generic_category().message(errno);
        return false;
    }
    int Failure = 0;
    if (!WriteAll(Fd, Bytes.data(), Bytes.size()) || ::fsync(Fd) != 0)
        Failure = errno;
    if (::close(Fd) != 0 && Failure == 0)
        Failure = errno;
    if (Failure == 0)
        return true;
    ::unlink(Path.c_str());
    Error = "cannot write " + Utf8Of(Path) + ": " + std::generic_category().message(Failure);
    return false;
}

TExclusiveOpen TestExclusiveOpen(const std::filesystem::path& Path)
{
    // O_NONBLOCK: if somebody else holds a lease, fail at once instead of waiting for its break.
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (Fd < 0)
        return TExclusiveOpen::eoInUse;
    // A writer that opens the file in the instant we hold the lease breaks it, and the kernel
    // tells the holder by a signal: SIGIO by default, whose default action ends the process.
    // SIGURG is ignored unless handled, so the break passes unnoticed (the writer's open only
    // waits until we give the lease back, a moment later).
    ::fcntl(Fd, F_SETSIG, SIGURG);
    // A write lease is granted only while no other descriptor for the file is open anywhere:
    // that is the share-none test. Given back at once, so no writer ever waits on it.
    if (::fcntl(Fd, F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(Fd, F_SETLEASE, F_UNLCK);
        ::close(Fd);
        return TExclusiveOpen::eoFree;
    }
    const int Error = errno;
    ::close(Fd);
    switch (Error) {
    case EACCES: // another user's file, and no CAP_LEASE
    case EPERM:
    case EINVAL: // leases switched off, or a file system that has none
    case ENOLCK:
    case ENOSYS:
    case ENOTSUP:
        return TExclusiveOpen::eoCannotTell;
    default: // EAGAIN: somebody holds it open
        return TExclusiveOpen::eoInUse;
    }
}

bool ListPlainFiles(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names)
{
    Names.clear();
    DIR* Dir = ::opendir(Folder.c_str());
    if (!Dir)
        return false;
    const int DirFd = ::dirfd(Dir);
    for (;;) {
        errno = 0;
        const dirent* Entry = ::readdir(Dir);
        if (!Entry) {
            const bool Failed = errno != 0;
            ::closedir(Dir);
            if (Failed)
                Names.clear();
            return !Failed;
        }
        bool Plain = Entry->d_type == DT_REG;
        if (Entry->d_type == DT_LNK || Entry->d_type == DT_UNKNOWN) {
            struct stat Info
            {
            };
            Plain = ::fstatat(DirFd, Entry->d_name, &Info, 0) == 0 && S_ISREG(Info.st_mode);
        }
        if (Plain)
            Names.emplace_back(Entry->d_name);
    }
}

bool MoveFileNoReplace(const std::filesystem::path& From, const std::filesystem::path& To,
                       std::string& Error)
{
    const int Result = RenameNoReplace(From, To);
    if (Result == 0)
        return true;
    if (Result == EXDEV)
        return MoveAcrossFileSystems(From, To, Error);
    Error = MoveError(From, To, Result);
    return false;
}

} // namespace Plumeria
