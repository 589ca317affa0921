// Placeholder until the log2timeline CSV and bodyfile writers land: they
// write nothing and report failure. Delete this file when they do.
#include "app/timeline_writers.h"

bool write_indx_entry_l2t(std::ostream&, const INDX_ENTRY_INFO&, user_ctx&) { return false; }
bool write_indx_entry_bodyfile(std::ostream&, const INDX_ENTRY_INFO&, user_ctx&) { return false; }
