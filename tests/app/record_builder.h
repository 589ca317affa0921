#pragma once
// Hand-built FILE records served to the tool's record reader as an extracted
// $MFT file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "tests/support/fixture.h"
#include "tests/support/record_builder.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/types.h"

namespace quor_test {

// Writes `records` one after another as an extracted $MFT file named `name`
// in the scratch folder and opens it as the source of `ctx`.
inline void open_as_mft_file(user_ctx& ctx, const std::vector<std::vector<byte>>& records, const std::string& name) {
  const std::string path = scratch_dir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  for (const auto& r : records) std::fwrite(r.data(), 1, r.size(), f);
  std::fclose(f);
  ctx.mft_reader = new uni::file_handle(path, false, false);
  ctx.is_open = true;
}

}  // namespace quor_test
