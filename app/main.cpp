// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>
#include <vector>

#include "app/evidence_guard.h"
#include "app/run_sequence.h"
#include "app/standard_output.h"

namespace {

// Until standard output and error are known not to be evidence, not even
// the word of a failure may go to a file or a disk behind them.
bool output_cleared = false;
bool error_cleared = false;

bool may_write_stderr() {
  struct stat st;
  return error_cleared || (::fstat(STDERR_FILENO, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode));
}

int out_of_memory() {
  // What was held goes to the outputs that passed the start-up check; the
  // word of why the run ends goes after it.
  if (error_cleared) release_standard_streams(output_cleared, true);
  if (may_write_stderr()) std::fputs("prob running out of memory, aborting\n", stderr);
  return -1;
}

// With almost no memory left, even the exception that says so cannot be
// made, and the runtime ends the process instead of throwing; so does an
// out-of-memory exception that meets a function which may not throw. Those
// end like any other failure for want of memory, with what was written
// flushed (standard output only ever holds whole lines). Any other end of
// this kind is a fault, and aborts as it would have.
void on_terminate();
const std::terminate_handler default_terminate = std::set_terminate(on_terminate);

// Whether the exception that ends the run is one of running out of memory,
// or there is none because not even it could be made.
bool ends_for_memory() {
  const std::exception_ptr pending = std::current_exception();
  if (!pending) return true;
  try {
    std::rethrow_exception(pending);
  } catch (const std::bad_alloc&) {
    return true;
  } catch (const std::length_error&) {
    return true;
  } catch (...) {
  }
  return false;
}

void on_terminate() {
  // Telling the exception's type copies it; when even that copy cannot be
  // made, the runtime comes back here, and memory it is.
  static bool entered = false;
  const bool again = entered;
  entered = true;
  if (!again && !ends_for_memory()) {
    if (default_terminate != nullptr) default_terminate();
    std::abort();
  }
  // What is held is let out first, straight to the descriptors: flushed
  // into the log, it would need memory.
  if (error_cleared) release_standard_streams(output_cleared, true);
  std::fflush(stdout);
  std::_Exit(out_of_memory() & 0xFF);
}

// Standard output was refused, standard error may be written: what the
// command line tells of how to run again (the -vmdk list to give, the
// -offset of the volume) still reaches standard error, after the refusal,
// while not a byte reaches the refused output. A command line that settles
// needs no word, and what it said would go out unchecked against the
// source the run would open.
int after_output_refused(int argc, char** argv) {
  if (!hold_standard_streams()) return out_of_memory();
  const bool settled = command_line_settles(argc, argv);
  release_standard_streams(false, !settled);
  return -1;
}

}  // namespace

// Standard output and standard error are checked before anything is written
// to either, by the command line and by what they hold; what the run writes
// is then held in memory until they are checked again with its source open,
// so that not even the banner or a status line lands on evidence only the
// open source tells apart. A run that never opens a source has what it held
// let out at its end. Where standard output alone is refused, standard
// error still tells how to run again. Before the first check opens
// anything, a closed standard descriptor is held, so that no evidence file
// is opened under its number.
//
// Memory that runs out anywhere ends the run with a message, not by a
// signal: what was written is flushed as whole lines, and the status says
// the listing is not whole.
int main(int argc, char** argv) try {
  hold_standard_descriptors();
  fail_writes_past_size_limit();
  bool error_writable = false;
  const bool refused = outputs_hold_evidence(argc, argv, error_writable);
  error_cleared = error_writable;
  if (refused) return error_cleared ? after_output_refused(argc, argv) : -1;
  output_cleared = !stream_put_off(STDOUT_FILENO);
  if (!hold_standard_streams()) return out_of_memory();
  // The run takes the options it has read out of the array it is given.
  std::vector<char*> typed(argv, argv + argc);
  const int status = run_quor(argc, argv);
  if (outputs_left_unknown(argc, typed.data())) return -1;
  release_standard_streams();
  // Results that never arrived are no success: an examiner would take the
  // short listing for the whole one.
  if (!standard_output_flushed()) {
    std::fputs("prob writing standard output, aborting\n", stderr);
    return -1;
  }
  return status;
} catch (const std::bad_alloc&) {
  return out_of_memory();
} catch (const std::length_error&) {
  return out_of_memory();
}
