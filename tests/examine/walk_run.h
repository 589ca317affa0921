#pragma once
// Runs the directory walker as its callers do: options through the shared
// option parser, then walk_engine_run into a text.
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

// The parser's result must be 0; `walked` is walk_engine_run's result.
inline bool run_walk(user_ctx& ctx, const std::vector<std::string>& args, std::string& out, bool& walked) {
  if (!parse_walk_options(ctx, args)) return false;
  std::ostringstream text;
  walked = walk_engine_run(text, ctx);
  out = text.str();
  return true;
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
