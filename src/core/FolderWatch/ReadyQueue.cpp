#include "core/FolderWatch/ReadyQueue.h"

#include "platform/Environment.h"
#include "platform/FileOps.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace Plumeria {

TReadyOrder ReadyOrderOf(const std::string& Path)
{
    TReadyOrder Order;
    Order.Path = Path;
    Order.Modified = std::numeric_limits<std::int64_t>::min();
    try {
        const std::filesystem::path File = PathFromUtf8(Path);
        Order.Name = PathToUtf8(File.filename());
        if (TFileStamp Stamp; FileStampOf(File, Stamp))
            Order.Modified = Stamp.Modified;
    } catch (const std::exception&) {
        // A path without a text form cannot come from the watch; it keeps its full path as name.
        Order.Name = Path;
    }
    return Order;
}

void SortOldestFirst(std::vector<std::string>& Paths)
{
    std::vector<TReadyOrder> Orders;
    Orders.reserve(Paths.size());
    for (const std::string& Path : Paths)
        Orders.push_back(ReadyOrderOf(Path));
    std::sort(Orders.begin(), Orders.end());
    for (std::size_t I = 0; I < Paths.size(); ++I)
        Paths[I] = std::move(Orders[I].Path);
}

void TReadyQueue::Add(const std::string& Path)
{
    TReadyOrder Order = ReadyOrderOf(Path);
    std::lock_guard Guard(FLock);
    if (FPaths.insert(Path).second)
        FFiles.insert(std::move(Order));
}

std::optional<std::string> TReadyQueue::TakeOldest()
{
    std::lock_guard Guard(FLock);
    if (FFiles.empty())
        return std::nullopt;
    std::string Path = std::move(FFiles.extract(FFiles.begin()).value().Path);
    FPaths.erase(Path);
    return Path;
}

bool TReadyQueue::Remove(const std::string& Path)
{
    std::lock_guard Guard(FLock);
    if (FPaths.erase(Path) == 0)
        return false;
    std::erase_if(FFiles, [&](const TReadyOrder& File) { return File.Path == Path; });
    return true;
}

bool TReadyQueue::Empty() const
{
    std::lock_guard Guard(FLock);
    return FFiles.empty();
}

std::size_t TReadyQueue::Size() const
{
    std::lock_guard Guard(FLock);
    return FFiles.size();
}

} // namespace Plumeria
