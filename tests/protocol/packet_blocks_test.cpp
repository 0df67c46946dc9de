#include "protocol/packet_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/in_packet.h"

namespace morvale {
namespace {

struct Block {
    unsigned char* at;
    std::size_t size;
    unsigned char mark;
};

// Blocks of every size, more of them than the slabs hold, each filled with its own mark: no two may
// overlap, a freed block may come back for another size class only through the heap, and freeing
// in a shuffled order on another thread (as the event thread frees what a worker parsed) is sound.
TEST(PacketBlocks, BlocksNeverOverlapAlsoBeyondTheSlabs) {
    std::mt19937 rng(11);
    std::vector<Block> blocks;
    std::size_t total = 0;
    for (std::size_t i = 0; total < kPacketSlabBytes + (kPacketSlabBytes / 2); ++i) {
        std::size_t size = 1 + (i * 37) % 700;
        auto* at = static_cast<unsigned char*>(AllocatePacketBlock(size));
        auto mark = static_cast<unsigned char>(i);
        std::memset(at, mark, size);
        blocks.push_back({at, size, mark});
        total += size;
        if (i % 3 == 0) {
            // Churn: give one back at once and take its place again.
            std::size_t pick = rng() % blocks.size();
            FreePacketBlock(blocks[pick].at, blocks[pick].size);
            std::swap(blocks[pick], blocks.back());
            blocks.pop_back();
        }
    }
    EXPECT_LE(PacketSlabBytesInUse(), kPacketSlabBytes);
    for (const Block& b : blocks) {
        for (std::size_t k = 0; k < b.size; ++k) ASSERT_EQ(b.at[k], b.mark) << "block of " << b.size;
    }
    std::shuffle(blocks.begin(), blocks.end(), rng);
    std::thread freer([&] {
        for (const Block& b : blocks) FreePacketBlock(b.at, b.size);
    });
    freer.join();
}

// Packets go through their class's own allocation functions, freed with their dynamic type's size.
TEST(PacketBlocks, PacketsOfEveryKindRoundTrip) {
    InPacketList packets;
    for (int round = 0; round < 1000; ++round) {
        packets.push_back(std::make_unique<InVisitorAddPacket>());
        packets.push_back(std::make_unique<InVisitorMsgPacket>());
        packets.push_back(std::make_unique<InVisitorAllPacket>());
        packets.push_back(std::make_unique<InTimeoutPacket>(std::make_unique<OutPacket>()));
    }
    for (auto& p : packets) p->body.assign(40, 'x');
    packets.clear();
    auto again = std::make_unique<InVisitorAddPacket>();
    again->vid = "v1";
    EXPECT_EQ(again->kind, DOWN_VISITOR_ADD);
    EXPECT_TRUE(again->body.empty());
}

}  // namespace
}  // namespace morvale
