// The settings file: an INI text of "[section]" lines and "key=value" lines.
// Sections and keys match without regard to ASCII case, blanks around keys
// and values are ignored, lines starting with ';' are comments, lines end in
// LF or CRLF. The first matching section and key count.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The value of key in section, cut to bufferSize - 1 characters (bufferSize
// counts the terminator of the fixed read buffer this mirrors); fallback,
// cut the same way, when the file, the section or the key is missing. A key
// present with an empty value reads as "". As the platform's profile reader
// does, one pair of matching quotes around a value is stripped before the
// cut: World="Sky" and World='Sky' read as Sky; an unmatched quote stays
// ("Sky reads "Sky).
std::string ReadSetting(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback,
                              std::size_t bufferSize);

// Sets key in section to value: replaces the key's line, or adds it after the
// last entry of the section, or adds the section at the end, or creates the
// file (on POSIX with mode 0600: it holds a password). Every other byte stays
// as it was; added lines end the way the file's first line ends (a new file:
// CRLF on Windows, LF on POSIX). A value that would not read back as it is
// (blanks at either end, a pair of matching quotes around it) is written in
// double quotes. The file is replaced atomically, so a failed
// write leaves the old one whole (app/platform.h). Returns false on failure,
// or when a text holds a line break.
bool WriteSetting(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);

// Decimal text to int as the settings conversion reads it: leading blanks, an
// optional sign, the digits up to the first other character; 0 without
// digits. Saturates at the int range.
int DecimalValue(std::string_view text);
