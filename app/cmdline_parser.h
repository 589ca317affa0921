#pragma once
// What the option parser (user_ctx::parse_cmdline) makes of a command line
// before anything is opened, for the checks that must run before it.
#include <string>
#include <vector>

// The files the source on this command line has the run open, named as the
// parser names them: the source the parser chooses, its value taken as the
// parser takes it, an image's path made absolute as the parser makes it
// (blanks and quotes dropped, "." and ".." resolved as text), a VMDK chain
// given in part with the parents its extents name (the parser opens them to
// suggest the whole chain), a drive letter as the file it names. Empty for
// no source or a drive number. Nothing is printed or made; only VMDK extents
// are opened, for reading, to follow their parents. `reading`, when given,
// learns how the run reads them.
enum class source_reading { not_a_disk, disk, vmdk_chain };
std::vector<std::string> cmdline_source_files(int argc, char** argv, source_reading* reading = nullptr);
