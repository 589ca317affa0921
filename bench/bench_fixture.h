#pragma once
// The benchmark's fixture image (QUOR_BENCH_FIXTURE, a committed .gz),
// decompressed once per run to `path`; "/nonexistent" when that fails, so
// that opening it fails and the benchmark reports the skip.
#include <cstdlib>
#include <string>

inline const std::string& bench_volume(const char* path) {
  static std::string volume;
  if (volume.empty()) {
    volume = path;
    const std::string cmd = "gzip -dc '" QUOR_BENCH_FIXTURE "' > '" + volume + "'";
    if (std::system(cmd.c_str()) != 0) volume = "/nonexistent";
  }
  return volume;
}
