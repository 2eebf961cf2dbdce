// The VGF coefficient heap (integer build of the Tesk engine).
//
// Residue vectors are bump-allocated through blocks of 1,000,000 bytes and
// never freed one by one.  Space comes back by rolling the heap back to a
// saved Garbage_State, after which the survivors are slid down onto the heap
// pointer by the sliding compaction (the caller gathers their handles).  A
// second zone of the same shape receives what the zone-2 compaction moves
// there; swap_zone exchanges the two zones.
#ifndef TESK_BASE_VGF_HEAP_H
#define TESK_BASE_VGF_HEAP_H

#include <cstddef>
#include <cstdint>

namespace tesk::vgf {

class VGF;

inline constexpr unsigned TESK_BLOCK_SIZE = 1000000;   // usable bytes of a block
inline constexpr unsigned TESK_BLOCK_TABLE = 10000;    // entries of a block table

extern unsigned size_of_vectors;  // k, residues per vector (1 at start)
inline unsigned internal_taille_bignum() { return 4 * size_of_vectors; }  // bytes of one vector

// A saved heap position.  Field order is part of the interface.
struct Garbage_State {
    unsigned cur_garbages = 0;     // table entries in use (current block = entry - 1)
    unsigned max_garbages = 0;     // blocks recorded in the table
    unsigned lost_bignum = 0;      // bytes given up at block ends
    unsigned limit_garbages = 0;   // capacity of the table
    char* tesk_bignum_tas = nullptr;  // bump pointer
    char** all_garbages = nullptr;    // block table
    char* bot_bignum_tas = nullptr;   // end of the current block
};

// Zone 1, the working zone.
extern char* tesk_bignum_tas;
extern char* bot_bignum_tas;
extern char** all_garbages;
extern int cur_garbages;
extern int max_garbages;
extern int limit_garbages;
extern unsigned lost_bignum;
extern int tesk_cur_id_garbage;
// Zone 2.
extern char* tesk_bignum_tas2;
extern char* bot_bignum_tas2;
extern char** all_garbages2;
extern int cur_garbages2;
extern int max_garbages2;
extern int limit_garbages2;
extern int tesk_cur_id_garbage2;

// ---------------------------------------------------------------------------
// Allocation.
void init_Implement_VGF();                        // once: the two block tables
char* alloc_Implement_VGF_slow(unsigned size);    // next block, large requests, failures
// `size` bytes of zone 1 (a pointer bump; the block end is never reached).
inline char* alloc_Implement_VGF(unsigned size) {
    char* p = tesk_bignum_tas;
    if ((std::ptrdiff_t)size < bot_bignum_tas - p) {
        tesk_bignum_tas = p + size;
        return p;
    }
    return alloc_Implement_VGF_slow(size);
}
inline char* new_Implement_VGF() { return alloc_Implement_VGF(internal_taille_bignum()); }
char* alloc_Implement_VGF_2(unsigned size);       // `size` bytes of zone 2
inline char* new_Implement_VGF_2() { return alloc_Implement_VGF_2(internal_taille_bignum()); }
void copy_fast_VGF(VGF* h);        // *h := a copy of *h's vector in zone 1
void other_copy_fast_VGF(VGF* h);  // the same
void copy2_fast_VGF(VGF* h);       // *h := a copy of *h's vector in zone 2

// ---------------------------------------------------------------------------
// States.
void save_tesk_state_VGF(Garbage_State* g);           // mark: block index, pointer, end, lost
void restore_tesk_state_VGF(const Garbage_State* g);  // back to the mark
inline void export_save_tesk_state(Garbage_State& g) { save_tesk_state_VGF(&g); }
inline void export_restore_tesk_state(const Garbage_State& g) { restore_tesk_state_VGF(&g); }
void full_save_tesk_state_VGF(Garbage_State* g);            // all seven fields
void full_restore_tesk_state_VGF(const Garbage_State* g);   // all seven fields
void swap_with_State(Garbage_State& g);     // exchanges the heap's seven fields with g
void restore_State(Garbage_State& g);       // empties g (pointer, index, lost, end := 0)
int tranfert_free_State(Garbage_State& g);  // moves g's free blocks to the heap's table; 0
int is_reset_state_VGF();                   // 1 when nothing was ever allocated (null pointer)
// g allocates in n equal parts of the caller's area (fatal when size is not
// n parts of at least 1,000,000 bytes).
void creat_alloc_Implement_VGF(unsigned n, unsigned limit, unsigned size, char** table,
                               Garbage_State& g, char* area);
// g allocates in the caller's area, one block (fatal below 1,000,000 bytes).
void creat_alloc_Implement_VGF(unsigned limit, unsigned size, char** table, Garbage_State& g,
                               char* area);
// g takes its blocks from the allocation hook into the caller's table.
void creat_alloc_Implement_VGF(unsigned limit, unsigned size, char** table, Garbage_State& g);

// ---------------------------------------------------------------------------
// Zone 2.
void swap_zone();     // exchanges every zone-1 global with its zone-2 twin
void reset_zone2();   // restarts zone 2 at its first block

// ---------------------------------------------------------------------------
// Sliding compaction.  handles[i] is the address of a live handle.  Each
// distinct vector is copied once, in allocation order, onto the heap
// pointer; every handle holding it is rewritten.  Vectors the roll-back did
// not reclaim (below the heap pointer) stay where they are.
void compacteur_glissant(unsigned n, VGF** handles, int flag);
void compacteur_glissant_dbl(unsigned n, VGF** handles);
void other_compacteur_glissant(unsigned n, VGF** handles);
void compacteur_glissant_zone2(unsigned n, VGF** handles);  // copies every vector into zone 2
unsigned Nb_glisser_VGF();     // runs of compacteur_glissant with n > 0
int comp_adr(VGF* a, VGF* b);          // 1 when a's vector address >= b's
int strict_comp_adr(VGF* a, VGF* b);   // 1 when a's vector address < b's

// ---------------------------------------------------------------------------
// Diagnostics (the heap is left as it is unless said).
void how_much_BigNum_VGF();                         // block count and free space, on the log
void info_tesk_state_VGF();                         // the heap's fields and block table, on the log
void info_tesk_state_VGF(const Garbage_State* g);   // the same for a saved state
void info_GC_VGF();                                 // pointer movement since the last call, on tesk_stderr
void Tesk_rechercher_pointer(const void* p);        // which zone block holds p, on tesk_stderr
void debug_Zone_VGF();                              // zeroes the free rest of zone 1
void force_tozero_heap();                           // zeroes the rest of the current block

}  // namespace tesk::vgf

namespace tesk {
using vgf::Garbage_State;
}  // namespace tesk

#endif
