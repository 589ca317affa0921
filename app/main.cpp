// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include "app/evidence_guard.h"
#include "app/run_sequence.h"

// Standard output and standard error are checked before anything is written
// to either, so that not even the banner or a status line lands on the
// evidence; the run checks them again once its source is open.
int main(int argc, char** argv) {
  if (outputs_on_named_evidence(argc, argv)) return -1;
  return run_quor(argc, argv);
}
