// -indxfile on files that hold nothing to parse; files of real records are
// run end to end (end_to_end_test.cpp).
#include "app/indx_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/fixture.h"

namespace {

indx_file_result analyse(const std::string& file, std::string& written) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.all = true;
  ctx.indxfile = file;
  std::ostringstream text;
  std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
  const indx_file_result result = analyze_indx_file(ctx);
  std::cout.rdbuf(saved);
  written = text.str();
  return result;
}

TEST(IndxFile, NothingToParse) {
  const std::string empty = quor_test::scratch_dir() + "/empty.indx", junk = quor_test::scratch_dir() + "/junk.indx";
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(junk, std::ios::binary) << std::string(6000, 'q');
  std::string written;
  EXPECT_EQ(analyse(empty, written), indx_file_empty);
  EXPECT_EQ(analyse(junk, written), indx_file_unparsable);
  EXPECT_EQ(analyse(quor_test::scratch_dir() + "/absent.indx", written), indx_file_unreadable);
  user_ctx ctx;
  byte small[15] = {};
  EXPECT_FALSE(analyze_indx_buffer(0, ctx, small, sizeof small));
}

}  // namespace
