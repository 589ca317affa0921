#include "utils/unique_output.h"

namespace uni {

bool create_unique_output(std::ofstream& stream, const std::function<std::string()>& next_name,
                          const file_identities& sources, unsigned tries, std::string& made) {
  for (unsigned n = 0; n < tries; ++n) {
    made = next_name();
    const output_result r = open_output(stream, made, sources, output_open::create_new);
    if (r == output_result::opened) return true;
    if (r != output_result::exists) break;
  }
  made.clear();
  return false;
}

bool create_unique_output(int& fd, const std::function<std::string()>& next_name, const file_identities& sources,
                          unsigned tries, std::string& made) {
  fd = -1;
  for (unsigned n = 0; n < tries; ++n) {
    made = next_name();
    const output_result r = open_output(fd, made, sources, output_open::create_new);
    if (r == output_result::opened) return true;
    if (r != output_result::exists) break;
  }
  fd = -1;
  made.clear();
  return false;
}

}  // namespace uni
