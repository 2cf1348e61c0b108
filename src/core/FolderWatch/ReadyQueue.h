#pragma once
// The order of ready files. When several files are ready at once (waiting at start, moved in
// together, come while another was sent or while watching was paused), they are taken by their
// modification time, then by name: the back office's newest price list is then the last one a
// scale receives, whatever order the folder lists them in.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Plumeria {

/// Where a file stands in the order: modification time, then file name, then the full path.
struct TReadyOrder
{
    std::int64_t Modified = 0; ///< the system's own unit; a file that cannot be read sorts first
    std::string Name;          ///< the file name without folder (UTF-8)
    std::string Path;          ///< the full path (UTF-8)

    friend auto operator<=>(const TReadyOrder&, const TReadyOrder&) = default;
};

/// The file's place in the order as the folder shows it now.
TReadyOrder ReadyOrderOf(const std::string& Path);

/// Sorts full paths oldest first.
void SortOldestFirst(std::vector<std::string>& Paths);

/// Files reported ready and not yet taken. Each file's place is read once, when it is added.
/// Safe to use from several threads.
class TReadyQueue
{
public:
    /// Adds a full path; a path queued already keeps its place.
    void Add(const std::string& Path);
    /// The oldest queued file, removed from the queue; none when it is empty.
    std::optional<std::string> TakeOldest();
    /// Removes a queued path; false when it was not queued.
    bool Remove(const std::string& Path);
    bool Empty() const;
    std::size_t Size() const;

private:
    mutable std::mutex FLock;
    std::set<TReadyOrder> FFiles;
    std::set<std::string> FPaths; ///< the paths of FFiles, to find one without a scan
};

} // namespace Plumeria
