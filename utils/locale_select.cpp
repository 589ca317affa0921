#include "utils/locale_select.h"

#include <locale>
#include <stdexcept>

#include "utils/env_expand.h"

bool locale_exists(const char* name) {
  if (!name) return false;
  try {
    std::locale probe(name);
    (void)probe;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool locale_from_env(std::string& name) {
  name.clear();
  if (locale_exists("")) return true;
  name = expand_env_vars("%LC_TIME%");
  if (locale_exists(name.c_str())) return true;
  name = expand_env_vars("%LANG%");
  if (locale_exists(name.c_str())) return true;
  name.clear();
  return false;
}
