#include "tesk/base/bigblock.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "tesk/base/runtime.h"

namespace tesk {

Tesk_Malloc_Fn Tesk_int_Tesk_malloc = internal_Tesk_malloc;
Tesk_Malloc_Fn Tesk_Tesk_malloc = internal_Tesk_malloc;

namespace {
constexpr std::uint64_t round_up(std::uint64_t n) {
    return (n + tesk_block_align - 1) & ~(std::uint64_t)(tesk_block_align - 1);
}
}  // namespace

bool Tesk_Arenas::open_arena() {
    void* m = std::malloc((std::size_t)tesk_arena_size + tesk_block_align);
    if (!m) return false;
    std::uintptr_t a = ((std::uintptr_t)m + tesk_block_align - 1) & ~(std::uintptr_t)(tesk_block_align - 1);
    base[cur_big_memory] = m;
    ptr_big_memory[cur_big_memory] = (char*)a;
    size_big_memory[cur_big_memory] = tesk_arena_size;
    ++cur_big_memory;
    return true;
}

void* Tesk_Arenas::carve(unsigned size) {
    // The remaining sizes are multiples of 16, so remaining > size implies
    // remaining >= round_up(size).
    const unsigned need = (unsigned)round_up(size);
    for (unsigned i = 0; i < cur_big_memory; ++i) {
        if (size_big_memory[i] > size) {
            char* r = ptr_big_memory[i];
            ptr_big_memory[i] += need;
            size_big_memory[i] -= need;
            return r;
        }
    }
    if (cur_big_memory >= max_arenas) Fatal("Maximum of big allocation is %u\n", max_arenas);
    if (size > tesk_arena_size) Fatal("%u is too big (limit is %u)\n", size, tesk_arena_size);
    if (!open_arena()) return nullptr;
    unsigned i = cur_big_memory - 1;
    char* r = ptr_big_memory[i];
    ptr_big_memory[i] += need;
    size_big_memory[i] -= need;
    return r;
}

void Tesk_Arenas::release() {
    for (unsigned i = 0; i < cur_big_memory; ++i) std::free(base[i]);
    cur_big_memory = 0;
}

void* internal_Tesk_malloc(unsigned int size) {
    static int init_Tesk_xmalloc = 0;
    static int use_big_memory = 0;
    // Never destroyed: blocks stay in use until the process ends.
    static Tesk_Arenas* arenas = nullptr;
    if (!init_Tesk_xmalloc) {
        init_Tesk_xmalloc = 1;
        if (std::getenv("TESKBIGMEM")) {
            Stderr("Use Big Memory from tesk !\n");
            use_big_memory = 1;
            arenas = new (std::nothrow) Tesk_Arenas;
            if (!arenas || !arenas->open_arena()) Fatal("fail to init Tesk_xmalloc\n");
        }
    }
    if (!use_big_memory) return std::malloc(size);
    return arenas->carve(size);
}

}  // namespace tesk
