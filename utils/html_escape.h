#pragma once
// Text made safe inside HTML: '<', '>' and '&' become entities, and every
// character that is not printable ASCII (CR and LF excepted) becomes '%'
// and two hexadecimal digits of its low 8 bits.
#include <string>

// Empty for a null or empty text, and when memory runs out for the result.
std::string html_escape(const char* text);
std::wstring html_escape_w(const std::wstring& text);
