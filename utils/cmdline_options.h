#pragma once
// Finding options on a command line and consuming them. An entry matches
// when it equals the option as a whole word without regard to case (no
// prefixes, no special meaning of '-' or '/'). A found option and its values
// are removed, so each occurrence is read once and calling again until false
// yields repeated options in command-line order.
//
// Array forms skip entry 0 (the program name), lower the count in place and
// compact the array; slots past the new count keep stale pointers. Vector
// forms search every element, element 0 included.
#include <string>
#include <vector>

bool get_arg_flag(const char* option, int& argc, char** argv, bool keep);
bool get_arg_flag(const char* option, int* argc, char** argv, bool keep);
bool get_arg_option_value(const char* option, std::string& value, int& argc, char** argv);
bool get_arg_option_value(const char* option, std::string& value, int* argc, char** argv);
bool get_arg_option_value2(const char* option, std::string& value, std::string& value2, int& argc, char** argv);
bool get_arg_option_value3(const char* option, std::string& value, std::string& value2, std::string& value3,
                           int& argc, char** argv);
bool get_arg_option_value4(const char* option, std::string& value, std::string& value2, std::string& value3,
                           std::string& value4, int& argc, char** argv);

bool get_arg_flag_w(const wchar_t* option, int& argc, wchar_t** argv);
// Empties value before it searches.
bool get_arg_option_value_w(const wchar_t* option, std::wstring& value, int& argc, wchar_t** argv);
bool get_arg_option_value2_w(const wchar_t* option, std::wstring& value, std::wstring& value2, int& argc,
                             wchar_t** argv);
bool get_arg_option_value3_w(const wchar_t* option, std::wstring& value, std::wstring& value2,
                             std::wstring& value3, int& argc, wchar_t** argv);
bool get_arg_option_value4_w(const wchar_t* option, std::wstring& value, std::wstring& value2,
                             std::wstring& value3, std::wstring& value4, int& argc, wchar_t** argv);

bool get_arg_flag_v(const char* option, std::vector<std::string>& args, bool keep);
bool get_arg_option_value_v(const char* option, std::string& value, std::vector<std::string>& args);
bool get_arg_option_value2_v(const char* option, std::string& value, std::string& value2,
                             std::vector<std::string>& args);
bool get_arg_option_value3_v(const char* option, std::string& value, std::string& value2, std::string& value3,
                             std::vector<std::string>& args);

// The option name is UTF-8, decoded before it is compared.
bool get_arg_flag_vw(const char* option, std::vector<std::wstring>& args, bool keep);
bool get_arg_option_value_vw(const char* option, std::wstring& value, std::vector<std::wstring>& args);
bool get_arg_option_value2_vw(const char* option, std::wstring& value, std::wstring& value2,
                              std::vector<std::wstring>& args);

// Append every entry, the program name included (not cleared first); true
// when the vector is not empty afterwards. The wide form decodes UTF-8.
bool args_to_strings(std::vector<std::string>& args, int argc, char** argv);
bool args_to_wstrings(std::vector<std::wstring>& args, int argc, char** argv);
bool args_to_wstrings(int argc, char** argv, std::vector<std::wstring>& args);
