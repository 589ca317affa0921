#pragma once
// The standard file streams, opened also by a wide path, a path held as
// bytes, or a path held as UTF-16 units; each is encoded as UTF-8 for the
// system. A path that cannot be encoded whole (a character above 0x10FFFF)
// or that holds a NUL before its end fails to open with failbit set: it must
// never open, let alone truncate, the file named by the characters before
// the bad one. A lone surrogate is encoded by its value (0xD800 as ED A0 80),
// which is how Linux keeps such a name; a UTF-16 pair is one character.
// Trailing NUL units or bytes of a vector path are taken as its terminator.
#include <fstream>
#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

class ifstream : public std::ifstream {
 public:
  ifstream() = default;
  explicit ifstream(const std::wstring& path, std::ios_base::openmode mode = std::ios_base::in);
  explicit ifstream(const std::vector<byte>& path, std::ios_base::openmode mode = std::ios_base::in);
  explicit ifstream(const std::vector<uint16>& path, std::ios_base::openmode mode = std::ios_base::in);
  ~ifstream() override = default;

  using std::ifstream::open;
  void open(const std::string& path, std::ios_base::openmode mode = std::ios_base::in);
  void open(const std::wstring& path, std::ios_base::openmode mode = std::ios_base::in);
  void open(const std::vector<byte>& path, std::ios_base::openmode mode = std::ios_base::in);
  void open(const std::vector<uint16>& path, std::ios_base::openmode mode = std::ios_base::in);
};

// Opened through the guarded opener (utils/output_file.h): a FIFO nobody
// reads is refused at once, a new file takes 0666 less the process's mask,
// and a file is emptied, or written at its end with app, or over from its
// start with in and out, only once it has been checked.
class ofstream : public std::ofstream {
 public:
  ofstream() = default;
  explicit ofstream(const std::wstring& path, std::ios_base::openmode mode = std::ios_base::out);
  explicit ofstream(const std::string& path, std::ios_base::openmode mode = std::ios_base::out);
  explicit ofstream(const std::vector<byte>& path, std::ios_base::openmode mode = std::ios_base::out);
  explicit ofstream(const std::vector<uint16>& path, std::ios_base::openmode mode = std::ios_base::out);
  ~ofstream() override = default;

  using std::ofstream::open;
  void open(const std::string& path, std::ios_base::openmode mode = std::ios_base::out);
  void open(const std::vector<byte>& path, std::ios_base::openmode mode = std::ios_base::out);
  // Always out and trunc.
  void open(const std::wstring& path);
  void open(const std::vector<uint16>& path);
};

// The UTF-8 form of a path; false (out empty) when it cannot be encoded
// whole or holds a NUL before its end.
bool path_to_utf8(std::string& out, const std::wstring& path);
bool path_to_utf8(std::string& out, const std::string& path);
bool path_to_utf8(std::string& out, const std::vector<byte>& path);
bool path_to_utf8(std::string& out, const std::vector<uint16>& path);

}  // namespace uni
