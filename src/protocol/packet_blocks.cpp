#include "protocol/packet_blocks.h"

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

namespace morvale {

namespace {

// Under the address sanitizer every packet goes straight to the heap, so that a packet used after
// it was freed is still reported.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseSlabs = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUseSlabs = false;
#else
constexpr bool kUseSlabs = true;
#endif
#else
constexpr bool kUseSlabs = true;
#endif

constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = 32;  // slab blocks are of 16, 32, ... 512 bytes
constexpr std::size_t kSlabSize = 64 * 1024;
constexpr std::size_t kMaxSlabs = kPacketSlabBytes / kSlabSize;

struct FreeBlock {
    FreeBlock* next;
};

class SlabStore {
  public:
    SlabStore() { slabs_.reserve(kMaxSlabs); }

    // A block of class cls, or nullptr when the slabs are used up.
    void* Take(std::size_t cls) {
        const std::size_t size = BlockSize(cls);
        std::lock_guard lock(mutex_);
        if (FreeBlock* block = free_[cls]) {
            free_[cls] = block->next;
            return block;
        }
        if (static_cast<std::size_t>(end_ - next_) < size) {
            if (slabs_.size() == kMaxSlabs) return nullptr;
            char* slab = static_cast<char*>(::operator new(kSlabSize));
            slabs_.insert(std::upper_bound(slabs_.begin(), slabs_.end(), slab, std::less<>()), slab);
            next_ = slab;
            end_ = slab + kSlabSize;
        }
        void* block = next_;
        next_ += size;
        return block;
    }

    // Puts a slab block on its free list; false when the block is not from a slab.
    bool Give(void* block, std::size_t cls) {
        char* at = static_cast<char*>(block);
        std::lock_guard lock(mutex_);
        auto after = std::upper_bound(slabs_.begin(), slabs_.end(), at, std::less<>());
        if (after == slabs_.begin() || std::greater_equal<>()(at, *(after - 1) + kSlabSize)) return false;
        free_[cls] = new (block) FreeBlock{free_[cls]};
        return true;
    }

    std::size_t BytesInUse() {
        std::lock_guard lock(mutex_);
        return slabs_.size() * kSlabSize;
    }

    static std::size_t BlockSize(std::size_t cls) { return (cls + 1) * kGrain; }

  private:
    std::mutex mutex_;
    std::array<FreeBlock*, kClasses> free_{};
    std::vector<char*> slabs_;  // sorted by address
    char* next_ = nullptr;      // the unused rest of the newest slab
    char* end_ = nullptr;
};

// Never destroyed: packets may still be freed by other static destructors.
SlabStore& Store() {
    static SlabStore* store = new SlabStore;
    return *store;
}

// The class of a size, or kClasses when packets of that size do not live in slabs.
std::size_t ClassOf(std::size_t size) {
    if (!kUseSlabs || size == 0 || size > kClasses * kGrain) return kClasses;
    return (size - 1) / kGrain;
}

}  // namespace

void* AllocatePacketBlock(std::size_t size) {
    std::size_t cls = ClassOf(size);
    if (cls != kClasses) {
        if (void* block = Store().Take(cls)) return block;
    }
    return ::operator new(size);
}

void FreePacketBlock(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    std::size_t cls = ClassOf(size);
    if (cls != kClasses && Store().Give(block, cls)) return;
    ::operator delete(block);
}

std::size_t PacketSlabBytesInUse() { return Store().BytesInUse(); }

}  // namespace morvale
