#pragma once

// Storage for InPacket objects. A busy reply decodes into tens of thousands of small packets that
// are all freed together once their batch has been applied. They are carved from a few large slabs
// that stay allocated, and a freed packet's block waits on a free list for the next reply's packet
// of that size. This saves the heap calls and keeps the packets from being strewn between the
// reply's texts on the heap; beyond the slabs' bound blocks come from the heap as usual. Safe to
// use from any thread.

#include <cstddef>

namespace morvale {

void* AllocatePacketBlock(std::size_t size);
void FreePacketBlock(void* block, std::size_t size) noexcept;

// Bytes of slab the packets may take at most, and how many are taken so far.
inline constexpr std::size_t kPacketSlabBytes = std::size_t{8} << 20;
std::size_t PacketSlabBytesInUse();

}  // namespace morvale
