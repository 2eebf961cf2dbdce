#include "tesk/base/front_end.h"

#include <cstring>

#include "tesk/base/bigblock.h"
#include "tesk/base/bigdexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"

namespace tesk {
namespace {

constexpr unsigned names_per_block = 500;
constexpr int max_extra_names = 499;

// The parser's name table of one build: the names of each block so far.
struct Name_Table {
    char** table;
    int* extra;
    unsigned count[2] = {0, 0};
};

char* copy_name(const char* s) {
    if (!s) s = "";
    std::size_t n = strlen(s) + 1;
    char* d = (char*)internal_Tesk_malloc((unsigned)n);
    if (d) memcpy(d, s, n);
    return d;
}

void add_name(Name_Table& t, const char* name, unsigned block) {
    unsigned b = block == 0 ? 0 : 1;
    if (t.count[b] >= names_per_block) Fatal("Too much variables in the %u block!\n", block);
    unsigned at = b == 0 ? t.count[0] : t.count[0] + t.count[1];
    // A first-block name must not overwrite a second-block one already placed.
    if (b == 0 && t.count[1] > 0) {
        memmove(t.table + t.count[0] + 1, t.table + t.count[0], sizeof(char*) * (t.count[1] + *t.extra));
    }
    t.table[at] = copy_name(name);
    ++t.count[b];
    global_List_variables = t.table;
}

void add_extra(Name_Table& t, const char* name) {
    if (*t.extra >= max_extra_names) Fatal("Too much extra variables\n");
    t.table[t.count[0] + t.count[1] + *t.extra] = copy_name(name);
    ++*t.extra;
    global_List_variables = t.table;
}

Name_Table vgf_names{Liste_variables_BigDexp, &extra_nb_vars_BigDexp};
Name_Table gfc_names{Liste_variables_DRLDRL, &extra_nb_vars_DRLDRL};

}  // namespace

namespace vgf {
int want_to_save = 0;
WBUS* bin_save_file = nullptr;
void add_variable(const char* name, unsigned block) { add_name(vgf_names, name, block); }
void add_bvariable(const char* name) { add_extra(vgf_names, name); }
}  // namespace vgf

namespace gfc {
int want_to_save = 0;
WBUS* bin_save_file = nullptr;
void add_variable(const char* name, unsigned block) { add_name(gfc_names, name, block); }
void add_bvariable(const char* name) { add_extra(gfc_names, name); }
}  // namespace gfc

}  // namespace tesk
