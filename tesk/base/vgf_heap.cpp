// The VGF coefficient heap: bump allocation in blocks, saved states, zone 2
// and the sliding compaction.
#include "tesk/base/vgf_heap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "tesk/base/bigblock.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"

namespace tesk::vgf {

char* tesk_bignum_tas = nullptr;
char* bot_bignum_tas = nullptr;
char** all_garbages = nullptr;
int cur_garbages = 0;
int max_garbages = 0;
int limit_garbages = TESK_BLOCK_TABLE;
unsigned lost_bignum = 0;
int tesk_cur_id_garbage = 1;

char* tesk_bignum_tas2 = nullptr;
char* bot_bignum_tas2 = nullptr;
char** all_garbages2 = nullptr;
int cur_garbages2 = 0;
int max_garbages2 = 0;
int limit_garbages2 = TESK_BLOCK_TABLE;
int tesk_cur_id_garbage2 = 2;

namespace {

constexpr unsigned kBlockSlack = 8;   // zone-1 blocks are rounded up to 8 bytes
unsigned nb_glisser = 0;
char* last_gc_pointer = nullptr;
bool gc_seen = false;

unsigned hexa32(const void* p) { return (unsigned)(std::uintptr_t)p; }

char* give_block_memory() {
    char* b = (char*)(*Tesk_int_Tesk_malloc)(TESK_BLOCK_SIZE + kBlockSlack);
    if (!b) return nullptr;
    std::uintptr_t a = ((std::uintptr_t)b + 7) & ~(std::uintptr_t)7;
    return b + (a - (std::uintptr_t)b);
}

void ensure_tables() {
    if (!all_garbages || !all_garbages2) init_Implement_VGF();
}

}  // namespace

void init_Implement_VGF() {
    static bool done = false;
    if (done) return;
    done = true;
    all_garbages = new char*[TESK_BLOCK_TABLE]();
    all_garbages2 = new char*[TESK_BLOCK_TABLE]();
}

char* alloc_Implement_VGF_slow(unsigned size) {
    if (size > TESK_BLOCK_SIZE - 1) {
        Warning("%d >= %d !!\n", (int)size, (int)TESK_BLOCK_SIZE);
        char* m = (char*)(*Tesk_int_Tesk_malloc)(size);
        if (!m) Fatal("Pas assez de memoire pour *UN* entier (%d)!\n", (int)size);
        return m;
    }
    ensure_tables();
    for (;;) {
        char* p = tesk_bignum_tas;
        if ((std::ptrdiff_t)size < bot_bignum_tas - p) {
            tesk_bignum_tas = p + size;
            return p;
        }
        lost_bignum += (unsigned)(bot_bignum_tas - p);
        if (cur_garbages < max_garbages) {
            p = all_garbages[cur_garbages++];
        } else {
            char* b = cur_garbages < limit_garbages ? give_block_memory() : nullptr;
            if (!b) {
                bot_bignum_tas = nullptr;
                Fatal("Pas assez de memoire pour les entiers (%d,%d)!\n", (int)size, cur_garbages);
            }
            all_garbages[cur_garbages++] = b;
            if (cur_garbages > 1 && !want_quiet) {
                Output("\n>>> Extend Memory (VGF) ");
                Date();
                Output(" %u alloc:%u\n", (unsigned)cur_garbages, TESK_BLOCK_SIZE);
            }
            if (cur_garbages == limit_garbages)
                Fatal("Limit for allocations: %u in VGF !\n", (unsigned)limit_garbages);
            max_garbages = cur_garbages;
            p = b;
        }
        tesk_bignum_tas = p;
        bot_bignum_tas = p + TESK_BLOCK_SIZE;
    }
}

char* alloc_Implement_VGF_2(unsigned size) {
    ensure_tables();
    for (;;) {
        char* p = tesk_bignum_tas2;
        if ((std::ptrdiff_t)size < bot_bignum_tas2 - p) {
            tesk_bignum_tas2 = p + size;
            return p;
        }
        if (cur_garbages2 < max_garbages2) {
            p = all_garbages2[cur_garbages2++];
        } else {
            char* b = cur_garbages2 < limit_garbages2
                          ? (char*)(*Tesk_int_Tesk_malloc)(TESK_BLOCK_SIZE)
                          : nullptr;
            if (!b) {
                bot_bignum_tas2 = nullptr;
                Fatal("Pas assez de memoire dans l'initialisation de la zone2!\n");
            }
            all_garbages2[cur_garbages2++] = b;
            max_garbages2 = cur_garbages2;
            if (cur_garbages2 > 1 && !want_quiet) {
                Output("\n>>> Extend Memory(2nd) (VGF) ");
                Date();
                Output(" %d alloc %u\n", cur_garbages2, TESK_BLOCK_SIZE);
            }
            p = b;
        }
        tesk_bignum_tas2 = p;
        bot_bignum_tas2 = p + TESK_BLOCK_SIZE;
    }
}

// The copy may land on part of the vector's own old place (a slide).
void copy_fast_VGF(VGF* h) {
    char* d = new_Implement_VGF();
    std::memmove(d, h->_v, internal_taille_bignum());
    h->_v = (std::uint32_t*)d;
}
void other_copy_fast_VGF(VGF* h) { copy_fast_VGF(h); }
void copy2_fast_VGF(VGF* h) {
    char* d = new_Implement_VGF_2();
    std::memmove(d, h->_v, internal_taille_bignum());
    h->_v = (std::uint32_t*)d;
}

// ---------------------------------------------------------------------------
void save_tesk_state_VGF(Garbage_State* g) {
    g->cur_garbages = (unsigned)cur_garbages;
    g->tesk_bignum_tas = tesk_bignum_tas;
    g->bot_bignum_tas = bot_bignum_tas;
    g->lost_bignum = lost_bignum;
}

void restore_tesk_state_VGF(const Garbage_State* g) {
    cur_garbages = (int)g->cur_garbages;
    tesk_bignum_tas = g->tesk_bignum_tas;
    bot_bignum_tas = g->bot_bignum_tas;
    lost_bignum = g->lost_bignum;
}

void full_save_tesk_state_VGF(Garbage_State* g) {
    save_tesk_state_VGF(g);
    g->max_garbages = (unsigned)max_garbages;
    g->limit_garbages = (unsigned)limit_garbages;
    g->all_garbages = all_garbages;
}

void full_restore_tesk_state_VGF(const Garbage_State* g) {
    restore_tesk_state_VGF(g);
    max_garbages = (int)g->max_garbages;
    limit_garbages = (int)g->limit_garbages;
    all_garbages = g->all_garbages;
}

void swap_with_State(Garbage_State& g) {
    Garbage_State mine;
    full_save_tesk_state_VGF(&mine);
    full_restore_tesk_state_VGF(&g);
    g = mine;
}

void restore_State(Garbage_State& g) {
    g.tesk_bignum_tas = nullptr;
    g.cur_garbages = 0;
    g.lost_bignum = 0;
    g.bot_bignum_tas = nullptr;
}

int tranfert_free_State(Garbage_State& g) {
    ensure_tables();
    while (g.max_garbages > g.cur_garbages && max_garbages < limit_garbages) {
        all_garbages[max_garbages++] = g.all_garbages[--g.max_garbages];
    }
    return 0;
}

int is_reset_state_VGF() { return tesk_bignum_tas == nullptr; }

namespace {
void creat_notice_tail(unsigned a, unsigned b) {
    Date();
    Output(" %u alloc:%u\n", a, b);
}
}  // namespace

void creat_alloc_Implement_VGF(unsigned n, unsigned limit, unsigned size, char** table,
                               Garbage_State& g, char* area) {
    if (n == 0 || size % n != 0)
        Fatal("In creat_alloc_Implement_VGF %u must be a product of %u\n", size, n);
    if (size / n < TESK_BLOCK_SIZE)
        Fatal("You must give a zone of at least %u*%u bytes\n", n, TESK_BLOCK_SIZE);
    g = Garbage_State{0, n, 0, limit, nullptr, table, nullptr};
    for (unsigned i = 0; i < n; ++i) table[i] = area + (std::size_t)i * (size / n);
    if (!want_quiet) {
        Output("\n*** Creat Memory with %u zone %x (VGF) ", n, hexa32(area));
        creat_notice_tail((unsigned)cur_garbages, size / n);
    }
}

void creat_alloc_Implement_VGF(unsigned limit, unsigned size, char** table, Garbage_State& g,
                               char* area) {
    if (size < TESK_BLOCK_SIZE) Fatal("You must give a zone of at least %u bytes\n", TESK_BLOCK_SIZE);
    g = Garbage_State{0, 1, 0, limit, nullptr, table, nullptr};
    table[0] = area;
    if (!want_quiet) {
        Output("\n*** Creat Memory with zone %x (VGF) ", hexa32(area));
        creat_notice_tail((unsigned)cur_garbages, size);
    }
}

void creat_alloc_Implement_VGF(unsigned limit, unsigned size, char** table, Garbage_State& g) {
    g = Garbage_State{0, 0, 0, limit, nullptr, table, nullptr};
    if (!want_quiet) {
        Output("\n*** Creat Memory (VGF) ");
        creat_notice_tail((unsigned)cur_garbages, size);
    }
}

// ---------------------------------------------------------------------------
void swap_zone() {
    std::swap(tesk_bignum_tas, tesk_bignum_tas2);
    std::swap(bot_bignum_tas, bot_bignum_tas2);
    std::swap(all_garbages, all_garbages2);
    std::swap(cur_garbages, cur_garbages2);
    std::swap(max_garbages, max_garbages2);
    std::swap(limit_garbages, limit_garbages2);
    std::swap(tesk_cur_id_garbage, tesk_cur_id_garbage2);
}

void reset_zone2() {
    if (max_garbages2 <= 0) return;
    cur_garbages2 = 1;
    tesk_bignum_tas2 = all_garbages2[0];
    bot_bignum_tas2 = tesk_bignum_tas2 + TESK_BLOCK_SIZE;
}

// ---------------------------------------------------------------------------
// Sliding compaction.
//
// The vectors to move are copied in allocation order (block table index, then
// offset) onto the zone's pointer.  All vectors have the same size and the
// zone packs them greedily, so the i-th copy never lands beyond the i-th
// source: no source is overwritten before it is copied, whatever order the
// allocation hook gave the blocks in.  Vectors outside the zone's blocks, or
// below its pointer, cannot be overwritten by the copies and go last.
// A vector held by several handles is copied once and every handle gets the
// copy: two copies would both break the sharing and push the copies past
// sources not yet moved.
namespace {

enum class Below { keep, copy };

struct Live {
    std::uint64_t key;
    std::uint32_t* old;
    VGF* h;
};

std::vector<Live> live_scratch;
std::vector<std::pair<std::uintptr_t, int>> block_scratch;

void slide(unsigned n, VGF** handles, int zone, Below below) {
    ensure_tables();
    char** table = zone == 1 ? all_garbages : all_garbages2;
    int cur = zone == 1 ? cur_garbages : cur_garbages2;
    int max = zone == 1 ? max_garbages : max_garbages2;
    char* tas = zone == 1 ? tesk_bignum_tas : tesk_bignum_tas2;

    auto& blocks = block_scratch;
    blocks.clear();
    for (int i = 0; i < max; ++i) blocks.emplace_back((std::uintptr_t)table[i], i);
    std::sort(blocks.begin(), blocks.end());

    constexpr std::uint64_t kLate = std::uint64_t(1) << 63;
    static_assert(TESK_BLOCK_TABLE < (1u << 20) && TESK_BLOCK_SIZE < (1u << 20),
                  "index and offset must fit the key");
    auto& live = live_scratch;
    live.clear();
    for (unsigned i = 0; i < n; ++i) {
        VGF* h = handles[i];
        std::uintptr_t a = (std::uintptr_t)h->_v;
        std::uint64_t key = kLate | a;
        auto it = std::upper_bound(blocks.begin(), blocks.end(),
                                   std::make_pair(a, (int)TESK_BLOCK_TABLE));
        if (it != blocks.begin()) {
            --it;
            std::uintptr_t off = a - it->first;
            int j = it->second;
            if (off < TESK_BLOCK_SIZE) {
                bool is_below = j < cur - 1 || (j == cur - 1 && a < (std::uintptr_t)tas);
                if (is_below) {
                    if (below == Below::keep) continue;
                } else {
                    key = ((std::uint64_t)j << 20) | off;
                }
            }
        }
        live.push_back({key, h->_v, h});
    }
    std::sort(live.begin(), live.end(), [](const Live& x, const Live& y) { return x.key < y.key; });

    std::uint32_t* prev_old = nullptr;
    std::uint32_t* prev_new = nullptr;
    for (const Live& e : live) {
        if (e.old == prev_old) {
            e.h->_v = prev_new;
            continue;
        }
        e.h->_v = e.old;
        if (zone == 1)
            copy_fast_VGF(e.h);
        else
            copy2_fast_VGF(e.h);
        prev_old = e.old;
        prev_new = e.h->_v;
    }
}

}  // namespace

void compacteur_glissant(unsigned n, VGF** handles, int) {
    if (n == 0) return;
    slide(n, handles, 1, Below::copy);
    ++nb_glisser;
}

void compacteur_glissant_dbl(unsigned n, VGF** handles) {
    if (n) slide(n, handles, 1, Below::keep);
}

void other_compacteur_glissant(unsigned n, VGF** handles) {
    if (n) slide(n, handles, 1, Below::keep);
}

void compacteur_glissant_zone2(unsigned n, VGF** handles) {
    if (n) slide(n, handles, 2, Below::copy);
}

unsigned Nb_glisser_VGF() { return nb_glisser; }

int comp_adr(VGF* a, VGF* b) { return a->_v >= b->_v; }
int strict_comp_adr(VGF* a, VGF* b) { return a->_v < b->_v; }

// ---------------------------------------------------------------------------
void how_much_BigNum_VGF() {
    unsigned f = (unsigned)(bot_bignum_tas - tesk_bignum_tas) + 3 * internal_taille_bignum() + lost_bignum;
    Output("BIGNUMS(VGF): nb garbages= %d, taille tesk= %d, libre = %d tesk + %d\n", max_garbages,
           (int)TESK_BLOCK_SIZE, (int)((max_garbages - cur_garbages) + f / TESK_BLOCK_SIZE),
           (int)(f % TESK_BLOCK_SIZE));
}

namespace {
void print_table(char** table, int cur, int max) {
    if (!table) return;
    for (int i = 0; i < cur; ++i) Output("x %x\n", hexa32(table[i]));
    for (int i = cur; i < max; ++i) Output("  %x\n", hexa32(table[i]));
}
}  // namespace

void info_tesk_state_VGF() {
    Output("limit_garbages: %d cur_garbages: %d, lost_bignum=%u, tesk_bignum_tas=%x, "
           "bot_bignum_tas=%x max_garbages: %d all_garbages: %x \n",
           limit_garbages, cur_garbages, lost_bignum, hexa32(tesk_bignum_tas),
           hexa32(bot_bignum_tas), max_garbages, hexa32(all_garbages));
    print_table(all_garbages, cur_garbages, max_garbages);
}

void info_tesk_state_VGF(const Garbage_State* g) {
    Output("limit_garbages: %d cur_garbages: %d, lost_bignum=%u, tesk_bignum_tas=%x, "
           "bot_bignum_tas=%x max_garbages: %d all_garbages: %x\n",
           (int)g->limit_garbages, (int)g->cur_garbages, g->lost_bignum, hexa32(g->tesk_bignum_tas),
           hexa32(g->bot_bignum_tas), (int)g->max_garbages, hexa32(g->all_garbages));
    print_table(g->all_garbages, (int)g->cur_garbages, (int)g->max_garbages);
}

void info_GC_VGF() {
    if (gc_seen) {
        long d = (long)((std::intptr_t)tesk_bignum_tas - (std::intptr_t)last_gc_pointer);
        if (d < 0)
            Stderr("*** tesk_bignum_tas=%x --> %d ***\n", hexa32(tesk_bignum_tas), (int)d);
        else
            Stderr("tesk_bignum_tas=%x --> %d\n", hexa32(tesk_bignum_tas), (int)d);
    }
    gc_seen = true;
    last_gc_pointer = tesk_bignum_tas;
}

void Tesk_rechercher_pointer(const void* p) {
    if (!p) {
        Stderr("\n find nil pointer !\n");
        return;
    }
    std::uintptr_t a = (std::uintptr_t)p;
    auto scan = [a](char** table, int cur, int id) {
        if (!table) return;
        for (int i = 0; i < cur; ++i) {
            std::uintptr_t b = (std::uintptr_t)table[i];
            if (b <= a && a < b + TESK_BLOCK_SIZE + kBlockSlack)
                Stderr("\nfind pointer in zone Z%d at slot %d ", id, i + 1);
        }
    };
    scan(all_garbages, cur_garbages, tesk_cur_id_garbage);
    scan(all_garbages2, cur_garbages2, tesk_cur_id_garbage2);
    Stderr(" [Z%d Z%d]\n", tesk_cur_id_garbage, tesk_cur_id_garbage2);
}

void debug_Zone_VGF() {
    Output("debug_Zone_VGF\n");
    if (tesk_bignum_tas && bot_bignum_tas > tesk_bignum_tas)
        std::memset(tesk_bignum_tas, 0, (std::size_t)(bot_bignum_tas - tesk_bignum_tas));
    for (int i = cur_garbages; i < max_garbages; ++i) std::memset(all_garbages[i], 0, TESK_BLOCK_SIZE);
}

void force_tozero_heap() {
    long rest = (long)(bot_bignum_tas - tesk_bignum_tas);
    std::fprintf(stderr, "Set %d bytes to 0!\n", (int)rest);
    if (rest > 0) std::memset(tesk_bignum_tas, 0, (std::size_t)rest);
}

}  // namespace tesk::vgf
