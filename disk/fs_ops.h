#pragma once
// Host file-system operations: directories, existence, status, whole-file
// reads and writes, stdio streams, the current directory and the program's
// own path. Every path reaches the system as UTF-8.
#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

// Creates one directory with mode 0777; an existing one counts as made. The
// process's file-creation mask is the same afterwards.
bool make_dir(const std::string& path);
bool make_dir_w(const std::wstring& path);
// Creates every directory along a '/'-separated path, each as make_dir
// does; an existing one counts as made (and keeps its mode). A drive
// component such as D: is not created.
bool make_dirs(std::string path);
bool make_dirs_w(const std::wstring& path);
bool path_exists(const std::string& path);
bool path_exists_w(const std::wstring& path);
bool remove_file(const std::string& path);
bool rename_file(const std::string& from, const std::string& to);
bool remove_file_w(const std::wstring& path);
bool rename_file_w(const std::wstring& from, const std::wstring& to);
std::string current_directory();
std::wstring current_directory_w();
std::string own_executable_path();
std::wstring own_executable_path_w();

// Status of a path (a trailing separator is ignored); times in Unix seconds.
bool stat_info(const std::string& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
               uint64* accessed);
bool stat_info_c(const char* path, uint64* size, uint16* mode, uint64* created, uint64* altered, uint64* accessed);
bool stat_info_w(const std::wstring& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
                 uint64* accessed);
// The same with the times as FILETIME values.
bool stat_times(const std::string& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
                uint64* accessed);
ulong64 unix_seconds_to_filetime(long64 seconds);

// The first min(size, max) bytes of a file. False (and `out` empty) when the
// file cannot be opened or the read fails.
bool read_file(std::vector<byte>& out, const std::string& path, uint32 max);
bool read_file_w(std::vector<byte>& out, const std::wstring& path, uint32 max);
// Writes `length` bytes to a new file, creating its directories first,
// through the guarded opener: an existing file is emptied first, a FIFO
// nobody reads is refused at once. False when the file cannot be created,
// written or closed.
bool write_file(const char* path, const char* data, int length);
bool write_file_w(const wchar_t* path, const char* data, int length);

// For writing ("w+", read-write) through the guarded opener, as write_file;
// for reading "rb" or "r".
bool open_file_w(FILE*& out, const std::wstring& path, bool write, bool reserved, bool write_too, bool binary);
bool open_file_for_write_w(FILE*& out, const std::wstring& path, bool binary);
bool open_file_for_read_w(FILE*& out, const std::wstring& path, bool binary);
int64 ostream_size(std::ostream& os);
int64 istream_size(std::istream& is);

bool string_less(const std::string& a, const std::string& b);
bool string_equal(const std::string& a, const std::string& b);
