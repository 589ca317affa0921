#pragma once
// Runs the directory walker as its callers do: options through the shared
// option parser, then walk_engine_run into a text.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "examine/walk_engine.h"

namespace quor_test {

// The walker's options through the shared parser, without the status line.
inline bool parse_walk_options(user_ctx& ctx, std::vector<std::string> args) {
  args.insert(args.begin(), "quor");
  args.push_back("-quiet");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return ctx.parse_cmdline(static_cast<int>(argv.size()), argv.data()) == 0;
}

// The walker's text; `walked` takes walk_engine_run's result.
inline std::string walk_text(user_ctx& ctx, const std::vector<std::string>& args, bool* walked = nullptr) {
  EXPECT_TRUE(parse_walk_options(ctx, args));
  std::ostringstream text;
  const bool done = walk_engine_run(text, ctx);
  if (walked) *walked = done;
  return text.str();
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> split_fields(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) fields.push_back(field);
  if (!line.empty() && line.back() == sep) fields.push_back("");
  return fields;
}

}  // namespace quor_test
