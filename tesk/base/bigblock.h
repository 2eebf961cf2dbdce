// The Tesk engine's allocation hook.  Long-lived memory (record blocks, the
// coefficient heap's blocks, name buffers) is taken through one hook per
// build and never given back.  Without TESKBIGMEM the hook forwards to
// malloc; with it, requests are carved out of large arenas.
#ifndef TESK_BASE_BIGBLOCK_H
#define TESK_BASE_BIGBLOCK_H

#include <cstddef>

namespace tesk {

using Tesk_Malloc_Fn = void* (*)(unsigned int size);

// The hooks of the integer and prime-field builds; both start at
// internal_Tesk_malloc.  Callers always go through the pointer.
extern Tesk_Malloc_Fn Tesk_int_Tesk_malloc;
extern Tesk_Malloc_Fn Tesk_Tesk_malloc;

// Size of one arena in big-memory mode.
inline constexpr unsigned int tesk_arena_size = 102100000u;
// Every block carved from an arena starts on this boundary.
inline constexpr std::size_t tesk_block_align = 16;
static_assert(tesk_arena_size % tesk_block_align == 0);

// The arena table of big-memory mode.  Each block starts on a 16-byte
// boundary: the arena bases are aligned and every request advances the
// arena's pointer by its size rounded up to 16, so the remaining sizes stay
// multiples of 16.
struct Tesk_Arenas {
    static constexpr unsigned max_arenas = 1000;
    unsigned cur_big_memory = 0;                 // arenas in use
    unsigned size_big_memory[max_arenas] = {};   // remaining bytes of each arena
    char* ptr_big_memory[max_arenas] = {};       // next free byte of each arena
    void* base[max_arenas] = {};                 // what malloc gave, for release()

    bool open_arena();              // a new arena; false when malloc fails
    void* carve(unsigned size);     // first fit (remaining > size), else a new arena; see internal_Tesk_malloc
    void release();                 // frees every arena (tests only; the engine never releases)
};

// `size` bytes aligned to 16, or null when the system has no memory for a new
// arena (or malloc fails in plain mode).  Fatal when arena 0 cannot be had,
// beyond 1000 arenas, or for a request larger than one arena.
void* internal_Tesk_malloc(unsigned int size);

}  // namespace tesk

#endif
