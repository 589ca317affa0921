#pragma once
// An HTML file as plain text with simple inline markers: headings as runs
// of '=', emphasis '*' or '_', superscript '^', subscript '~', code '%',
// bracketed block quotes and preformatted blocks, list items as '*' or a
// running number, images as [source, alt]. The converted pieces are
// followed by every piece once more as it stood after tag normalising.
// The output replaces out_path only once complete (it may be in_path).
// True on success; false when the input cannot be read or the output
// cannot be written, the output then left as it was.
bool html_file_to_text(const char* in_path, const char* out_path);
