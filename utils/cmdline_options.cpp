#include "utils/cmdline_options.h"

#include "utils/case_text.h"
#include "utils/string_lists.h"
#include "utils/utf_convert.h"

namespace {

std::string folded(const char* s) {
  std::string t(s ? s : "");
  to_lower(t);
  return t;
}

std::wstring folded(const wchar_t* s) {
  std::wstring t(s ? s : L"");
  to_lower_w(t);
  return t;
}

std::wstring folded(const std::wstring& s) {
  std::wstring t(s);
  to_lower_w(t);
  return t;
}

std::string folded(const std::string& s) { return folded(s.c_str()); }

// Index of the first entry at or after `from` that matches, or -1.
template <typename Char>
int find_in_array(const Char* option, int argc, Char** argv, int from) {
  const auto want = folded(option);
  for (int i = from; i < argc; ++i) {
    if (folded(argv[i]) == want) return i;
  }
  return -1;
}

template <typename Char>
void remove_entries(int& argc, Char** argv, int at, int n) {
  for (int k = 0; k < n; ++k) {
    for (int j = at; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
  }
}

// Finds the option, copies the N entries after it into values and removes
// all N + 1; nothing changes when fewer than N entries follow it.
template <typename Char, typename Str, size_t N>
bool take_array(const Char* option, Str* (&values)[N], int& argc, Char** argv) {
  if (!option || !argv || argc < 2) return false;
  const int i = find_in_array(option, argc, argv, 1);
  if (i < 0 || i + static_cast<int>(N) >= argc) return false;
  for (size_t k = 0; k < N; ++k) {
    const Char* entry = argv[i + 1 + static_cast<int>(k)];
    *values[k] = entry ? Str(entry) : Str();
  }
  remove_entries(argc, argv, i, static_cast<int>(N) + 1);
  return true;
}

template <typename Str>
int find_in_vector(const Str& want, const std::vector<Str>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (folded(args[i]) == want) return static_cast<int>(i);
  }
  return -1;
}

template <typename Str, size_t N>
bool take_vector(const Str& option, Str* (&values)[N], std::vector<Str>& args) {
  if (args.empty()) return false;
  const int i = find_in_vector(folded(option), args);
  if (i < 0 || static_cast<size_t>(i) + N >= args.size()) return false;
  for (size_t k = 0; k < N; ++k) *values[k] = args[static_cast<size_t>(i) + 1 + k];
  args.erase(args.begin() + i, args.begin() + i + static_cast<int>(N) + 1);
  return true;
}

std::string narrow_option(const char* option) { return option ? std::string(option) : std::string(); }

std::wstring wide_option(const char* option) { return utf8_to_wstring(narrow_option(option)); }

}  // namespace

bool get_arg_flag(const char* option, int& argc, char** argv, bool keep) {
  if (!option || !argv || argc < 2) return false;
  const int i = find_in_array(option, argc, argv, 1);
  if (i < 0) return false;
  if (!keep) remove_entries(argc, argv, i, 1);
  return true;
}

bool get_arg_flag(const char* option, int* argc, char** argv, bool keep) {
  return argc && get_arg_flag(option, *argc, argv, keep);
}

bool get_arg_option_value(const char* option, std::string& value, int& argc, char** argv) {
  std::string* v[] = {&value};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value(const char* option, std::string& value, int* argc, char** argv) {
  return argc && get_arg_option_value(option, value, *argc, argv);
}

bool get_arg_option_value2(const char* option, std::string& value, std::string& value2, int& argc, char** argv) {
  std::string* v[] = {&value, &value2};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value3(const char* option, std::string& value, std::string& value2, std::string& value3,
                           int& argc, char** argv) {
  std::string* v[] = {&value, &value2, &value3};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value4(const char* option, std::string& value, std::string& value2, std::string& value3,
                           std::string& value4, int& argc, char** argv) {
  std::string* v[] = {&value, &value2, &value3, &value4};
  return take_array(option, v, argc, argv);
}

bool get_arg_flag_w(const wchar_t* option, int& argc, wchar_t** argv) {
  if (!option || !argv || argc < 2) return false;
  const int i = find_in_array(option, argc, argv, 1);
  if (i < 0) return false;
  remove_entries(argc, argv, i, 1);
  return true;
}

bool get_arg_option_value_w(const wchar_t* option, std::wstring& value, int& argc, wchar_t** argv) {
  value.clear();
  std::wstring* v[] = {&value};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value2_w(const wchar_t* option, std::wstring& value, std::wstring& value2, int& argc,
                             wchar_t** argv) {
  std::wstring* v[] = {&value, &value2};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value3_w(const wchar_t* option, std::wstring& value, std::wstring& value2,
                             std::wstring& value3, int& argc, wchar_t** argv) {
  std::wstring* v[] = {&value, &value2, &value3};
  return take_array(option, v, argc, argv);
}

bool get_arg_option_value4_w(const wchar_t* option, std::wstring& value, std::wstring& value2,
                             std::wstring& value3, std::wstring& value4, int& argc, wchar_t** argv) {
  std::wstring* v[] = {&value, &value2, &value3, &value4};
  return take_array(option, v, argc, argv);
}

bool get_arg_flag_v(const char* option, std::vector<std::string>& args, bool keep) {
  if (args.empty()) return false;
  const int i = find_in_vector(folded(narrow_option(option)), args);
  if (i < 0) return false;
  if (!keep) erase_at(i, args);
  return true;
}

bool get_arg_option_value_v(const char* option, std::string& value, std::vector<std::string>& args) {
  std::string* v[] = {&value};
  return take_vector(narrow_option(option), v, args);
}

bool get_arg_option_value2_v(const char* option, std::string& value, std::string& value2,
                             std::vector<std::string>& args) {
  std::string* v[] = {&value, &value2};
  return take_vector(narrow_option(option), v, args);
}

bool get_arg_option_value3_v(const char* option, std::string& value, std::string& value2, std::string& value3,
                             std::vector<std::string>& args) {
  std::string* v[] = {&value, &value2, &value3};
  return take_vector(narrow_option(option), v, args);
}

bool get_arg_flag_vw(const char* option, std::vector<std::wstring>& args, bool keep) {
  if (args.empty()) return false;
  const int i = find_in_vector(folded(wide_option(option)), args);
  if (i < 0) return false;
  if (!keep) erase_at_w(i, args);
  return true;
}

bool get_arg_option_value_vw(const char* option, std::wstring& value, std::vector<std::wstring>& args) {
  std::wstring* v[] = {&value};
  return take_vector(wide_option(option), v, args);
}

bool get_arg_option_value2_vw(const char* option, std::wstring& value, std::wstring& value2,
                              std::vector<std::wstring>& args) {
  std::wstring* v[] = {&value, &value2};
  return take_vector(wide_option(option), v, args);
}

bool args_to_strings(std::vector<std::string>& args, int argc, char** argv) {
  if (argv) {
    for (int i = 0; i < argc; ++i) args.push_back(argv[i] ? argv[i] : "");
  }
  return !args.empty();
}

bool args_to_wstrings(std::vector<std::wstring>& args, int argc, char** argv) {
  if (argv) {
    for (int i = 0; i < argc; ++i) args.push_back(utf8_to_wstring(argv[i] ? argv[i] : ""));
  }
  return !args.empty();
}

bool args_to_wstrings(int argc, char** argv, std::vector<std::wstring>& args) {
  return args_to_wstrings(args, argc, argv);
}
