#pragma once

#include <cstdint>
#include <optional>

#include "quillo/platform/Records.hpp"

namespace quillo {

// A file system's space, from statvfs, in bytes (saturating: damaged counts never wrap):
// its size, what is free (root's reserve included), and what an ordinary user may still
// write.
struct VolumeSpace {
    std::uint64_t size = 0, free = 0, available = 0;
};
VolumeSpace volumeSpaceFrom(std::uint64_t blocks, std::uint64_t freeBlocks,
                            std::uint64_t availableBlocks, std::uint64_t fragmentSize);
// The volume holding path; absent, with the reason noted, when statvfs fails.
std::optional<VolumeSpace> volumeSpace(const char* path);

// Capacity and free space as df(1) counts them: the size is what is used plus what an
// unprivileged user may still write, so blocks reserved for root count as neither.
FileSystemAttributes dfAttributes(const VolumeSpace& space);
FileSystemAttributes fileSystemAttributesFrom(std::uint64_t blocks, std::uint64_t freeBlocks,
                                              std::uint64_t availableBlocks,
                                              std::uint64_t fragmentSize);

}  // namespace quillo
