#pragma once
// %NAME% references replaced by the values of set environment variables;
// references to unset variables stay as written.
#include <string>

std::string expand_env_vars(std::string text);
// The argument becomes the expanded text; a copy is returned.
std::wstring expand_env_vars_w(std::wstring& text);
