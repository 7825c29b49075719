#include "quillo/platform/linux/FileSystem.hpp"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "quillo/platform/Debug.hpp"

namespace quillo {

namespace {

std::uint64_t blockBytes(std::uint64_t count, std::uint64_t blockSize) {
    return count > std::numeric_limits<std::uint64_t>::max() / std::max<std::uint64_t>(blockSize, 1)
               ? std::numeric_limits<std::uint64_t>::max()
               : count * blockSize;
}

}  // namespace

VolumeSpace volumeSpaceFrom(std::uint64_t blocks, std::uint64_t freeBlocks,
                            std::uint64_t availableBlocks, std::uint64_t fragmentSize) {
    const std::uint64_t free = std::min(freeBlocks, blocks);
    return {blockBytes(blocks, fragmentSize), blockBytes(free, fragmentSize),
            blockBytes(std::min(availableBlocks, free), fragmentSize)};
}

std::optional<VolumeSpace> volumeSpace(const char* path) {
    struct statvfs vfs {};
    if (::statvfs(path, &vfs) != 0) {
        debug::note(std::string("statvfs ") + path, std::strerror(errno));
        return std::nullopt;
    }
    return volumeSpaceFrom(vfs.f_blocks, vfs.f_bfree, vfs.f_bavail, vfs.f_frsize);
}

FileSystemAttributes dfAttributes(const VolumeSpace& space) {
    const std::uint64_t used = space.size - space.free;
    return {used + std::min(space.available, std::numeric_limits<std::uint64_t>::max() - used),
            space.available};
}

FileSystemAttributes fileSystemAttributesFrom(std::uint64_t blocks, std::uint64_t freeBlocks,
                                              std::uint64_t availableBlocks,
                                              std::uint64_t fragmentSize) {
    return dfAttributes(volumeSpaceFrom(blocks, freeBlocks, availableBlocks, fragmentSize));
}

}  // namespace quillo
