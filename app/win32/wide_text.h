// The logic speaks UTF-8 bytes, Win32 speaks UTF-16: every text crosses here.
#pragma once

#include <string>
#include <string_view>

// Invalid sequences become U+FFFD rather than cutting the text short.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
