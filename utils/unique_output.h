#pragma once
// A new file under a name nothing else holds, made through the guarded
// opener: a name already taken (a file, a link, a temporary an interrupted
// run left) is passed over and left as it is, never opened.
#include <fstream>
#include <functional>
#include <string>

#include "utils/output_file.h"

namespace uni {

// Tries the names `next_name` gives, at most `tries` of them, each made only
// when nothing of that name exists. True with the name made in `made`;
// false, `made` empty, when every name tried was taken or an open failed for
// any other reason (that one is not retried under another name).
bool create_unique_output(std::ofstream& stream, const std::function<std::string()>& next_name,
                          const file_identities& sources, unsigned tries, std::string& made);
// The same, handing the new file over in `fd`, open for writing only (-1
// when none was made; the caller closes it): a file written through the one
// handle that made it, as a copy must be on a layer that keeps each open's
// view of the file apart.
bool create_unique_output(int& fd, const std::function<std::string()>& next_name, const file_identities& sources,
                          unsigned tries, std::string& made);

}  // namespace uni
