// State of the stand-alone server front end that the engine's printers and
// readers consult: the save channel and the variable names given by the
// input parser.  One set per build: tesk::vgf (integer build, BigDexp names)
// and tesk::gfc (prime-field build, DRLDRL names).
#ifndef TESK_BASE_FRONT_END_H
#define TESK_BASE_FRONT_END_H

namespace tesk {
class WBUS;
}

namespace tesk::vgf {

extern int want_to_save;      // 0; 1 once the final results are printed: AFFICHE copies lists to bin_save_file
extern WBUS* bin_save_file;   // the save channel ("-save"), null when none

// Names variable `name` in block 0 (first) or 1 (second) of the BigDexp table
// and points global_List_variables at it; fatal beyond 500 names per block.
void add_variable(const char* name, unsigned block);
// Appends an extra variable after the names so far, counted in
// extra_nb_vars_BigDexp; fatal from 499 extra variables on.
void add_bvariable(const char* name);

}  // namespace tesk::vgf

namespace tesk::gfc {

extern int want_to_save;
extern WBUS* bin_save_file;

// As tesk::vgf::add_variable over the DRLDRL table.
void add_variable(const char* name, unsigned block);
// As tesk::vgf::add_bvariable, counted in extra_nb_vars_DRLDRL.
void add_bvariable(const char* name);

}  // namespace tesk::gfc

#endif
