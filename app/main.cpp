// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include "app/run_sequence.h"

int main(int argc, char** argv) { return run_quor(argc, argv); }
