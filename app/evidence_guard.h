#pragma once
// quor writes its results to standard output and its messages to standard
// error: neither may be a file it reads as evidence (by any name, a loop
// device over it, or a file in a file system stored in it), nor anything but
// text. They are checked before anything is written, and again once the
// source is open against the files the run holds, what is written in between
// held in memory (hold_standard_streams). A refused stream takes not a byte;
// the refusal is said on the other stream, which first takes what was held
// for it (nowhere when both are refused), and the run ends with -1, standard
// error (where it may be written) first taking what the command line tells
// of how to run again.
#include "utils/output_file.h"

class user_ctx;

// What stands for the source open in `ctx` (its volume's files, an
// extracted $MFT): what no output of the run may write.
uni::file_identities open_source_ids(const user_ctx& ctx);

// True, after the refusal, when standard output or standard error writes a
// file the command line names as evidence, is a block device, or is a regular
// file that is not empty and holds no text (uni::content_of): "refused to
// write: <file>: <why>", <why> naming the evidence as typed and the layer,
// saying it is a block device or what binary data it holds
// (uni::binary_refusal), or that its head "cannot be read to tell what it
// holds". Evidence: any value of a source option, and any argument naming a
// regular file or a block device, each as typed, as cleaned the way an image's
// name is and with only the blanks and quotes around it cut, and the source as
// the parser will have the run open it. A layer under a stream that nothing
// tells is put off until the source's volume answers for it, what the stream
// holds read only then (outputs_on_opened_evidence), or, where none opens,
// the volumes the source holds (outputs_left_unknown). `error_cleared`:
// standard error may be written (standard output alone was refused, or
// neither, not put off).
bool outputs_hold_evidence(int argc, char** argv, bool& error_cleared);
// Whether the stream `fd` (1 or 2) was put off so.
bool stream_put_off(int fd);
// True, after the refusal, when a stream put off was never checked again and
// the named evidence and the source opened again (reopen_source) do not clear it.
bool outputs_left_unknown(int argc, char** argv);

// True, after the refusal, when writing standard output or error writes one
// of `opened` (the files behind a source the run holds open) or cannot be told
// not to (uni::stream_reach); asked while the run holds what it writes.
bool outputs_on_opened_evidence(const uni::file_identities& opened);

// Makes the folder ctx.copy_dir when ctx.copy_files asks for copies, and holds
// it open in ctx.copy_dir_fd: called once the source is open and checked,
// before the first copy. Nothing is made on (or in a mount of) the files the
// run holds open (ctx's volume and extracted $MFT, and `held`), nor those
// ctx.arguments names as evidence: refused, as the guarded opener says it. The
// folders made are open to every user; the copies and reports made after keep
// the process's mask. 0 when the folder is there; -1 after the refusal or
// "prob creating results directory, <folder>" on standard error.
int make_copy_folder(user_ctx& ctx, const uni::file_identities& held = uni::file_identities());
