#pragma once
// An HTML file as plain text with simple inline markers: headings as runs
// of '=', emphasis '*' or '_', superscript '^', subscript '~', code '%',
// bracketed block quotes and preformatted blocks, list items as '*' or a
// running number, images as [source, alt]. The converted pieces are
// followed by every piece once more as it stood after tag normalising.
// The output is written into the file out_path names (it may be in_path),
// as replace_file_contents writes it (utils/file_rewrite.h). True on
// success; false when the input cannot be read, is longer than an int can
// measure or cannot be converted in the memory left (nothing written
// then), or the output cannot be written.
bool html_file_to_text(const char* in_path, const char* out_path);
