// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include <cstdio>

#include "app/evidence_guard.h"
#include "app/run_sequence.h"
#include "app/standard_output.h"

// Standard output and standard error are checked before anything is written
// to either, so that not even the banner or a status line lands on the
// evidence; the run checks them again once its source is open. Before that
// check opens anything, a closed standard descriptor is held, so that no
// evidence file is opened under its number.
int main(int argc, char** argv) {
  hold_standard_descriptors();
  fail_writes_past_size_limit();
  if (outputs_hold_evidence(argc, argv)) return -1;
  const int status = run_quor(argc, argv);
  // Results that never arrived are no success: an examiner would take the
  // short listing for the whole one.
  if (!standard_output_flushed()) {
    std::fputs("prob writing standard output, aborting\n", stderr);
    return -1;
  }
  return status;
}
