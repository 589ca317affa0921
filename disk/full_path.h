#pragma once
// Absolute forms of paths typed on the command line.
#include <string>

// The absolute form of `path` (edited in place: quotes blanked, trimmed). A
// relative path is joined to the current directory and its ".." components
// resolved lexically; its "." components stay, apart from a leading one and
// a last one after a climb or after the leading one ("../." and "./." end in
// the separator). A path that begins with a separator is returned as typed;
// one whose directory part is in drive-letter form is not joined to the
// current directory (D:/dir/f gives /D:/dir/f), but a bare name is, whatever
// its characters (x:y.img).
// "" for a path that is empty after cleaning.
std::string get_full_path(std::string& path, char separator);
std::wstring get_full_path_w(const std::wstring& path, char separator);
std::wstring get_full_path_w(const std::wstring& path, wchar_t separator);
