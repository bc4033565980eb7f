// The settings file: an INI text of "[section]" lines and "key=value" lines.
// Sections and keys match without regard to ASCII case, blanks around keys
// and values are ignored, lines starting with ';' are comments, lines end in
// LF or CRLF. The first matching section and key count.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// One key to read, with what ReadSetting takes for it.
struct SettingRead {
    std::string_view section;
    std::string_view key;
    std::string_view fallback;
    std::size_t bufferSize;
};

// ReadSetting for each key, in order, from one read of the file.
std::vector<std::string> ReadSettings(const std::string& path, std::span<const SettingRead> reads);

// One key and the value to write for it.
struct Setting {
    std::string_view key;
    std::string_view value;
};

// Sets each key in section to its value, in order, in one replace of the
// file: it is read once, changed in memory and written whole. Per key: the
// key's line is replaced, or the key is added after the last entry of the
// section, or the section is added at the end with it; a missing file is
// created (on POSIX with mode 0600: it holds a password). Every other byte
// stays as it was; added lines end the way the file's first line ends (a new
// file: CRLF on Windows, LF on POSIX). A value that would not read back as it
// is (blanks at either end, a pair of matching quotes around it) is written
// in double quotes. The replace is atomic (app/platform.h): whenever the
// process ends, the file is the old one or the new one, whole. Returns 0, or
// the system's error number (SystemErrorText gives its words); a text that
// holds a line break is refused with InvalidDataError and writes nothing.
int WriteSettings(const std::string& path, std::string_view section, std::span<const Setting> settings);

// WriteSettings for one key; false on failure.
bool WriteSetting(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);

// Decimal text to int as the settings conversion reads it: leading blanks, an
// optional sign, the digits up to the first other character; 0 without
// digits. Saturates at the int range.
int DecimalValue(std::string_view text);
