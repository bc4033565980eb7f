#include "app/settings.h"

#include "app/ascii.h"
#include "app/platform.h"

#include <climits>
#include <initializer_list>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

struct Line {
    std::string text;    // without its line ending
    std::string ending;  // "\n", "\r\n" or "" for a last line without one
};

struct FileText {
    std::vector<Line> lines;
    FileContent stored;  // what a rewrite keeps of the file (its bytes are in lines)
};

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// What one line of the file is.
enum class LineKind { Other, Comment, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key
    std::string_view value;  // entries only
};

ParsedLine ParseLine(std::string_view text, bool first) {
    if (first && text.starts_with(BYTE_ORDER_MARK)) {
        text.remove_prefix(BYTE_ORDER_MARK.size());
    }
    std::string_view body = TrimBlanks(text);
    ParsedLine parsed;
    if (body.empty()) {
        return parsed;
    }
    if (body.front() == ';') {
        parsed.kind = LineKind::Comment;
    } else if (body.front() == '[') {
        parsed.kind = LineKind::Section;
        std::string_view inside = body.substr(1);
        parsed.name = TrimBlanks(inside.substr(0, inside.find(']')));
    } else if (std::size_t equals = body.find('='); equals != std::string_view::npos) {
        parsed.kind = LineKind::Entry;
        parsed.name = TrimBlanks(body.substr(0, equals));
        parsed.value = TrimBlanks(body.substr(equals + 1));
    }
    return parsed;
}

// 0, or the error number of the read.
int LoadFile(const std::string& path, FileText& file) {
    file = FileText{};
    if (int error = ReadFileContent(path, file.stored); error != 0) {
        return error;
    }
    const std::string bytes = std::move(file.stored.bytes);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t newline = bytes.find('\n', start);
        Line line;
        if (newline == std::string::npos) {
            line.text = bytes.substr(start);
            start = bytes.size();
        } else {
            std::size_t end = newline;
            if (end > start && bytes[end - 1] == '\r') {
                --end;
            }
            line.text = bytes.substr(start, end - start);
            line.ending = bytes.substr(end, newline + 1 - end);
            start = newline + 1;
        }
        file.lines.push_back(std::move(line));
    }
    return 0;
}

// Index of the first header of section, or nullopt.
std::optional<std::size_t> FindSection(const FileText& file, std::string_view section) {
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        ParsedLine parsed = ParseLine(file.lines[i].text, i == 0);
        if (parsed.kind == LineKind::Section && SameName(parsed.name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

// One past the last line of the section whose header is at index header.
std::size_t SectionEnd(const FileText& file, std::size_t header) {
    std::size_t i = header + 1;
    while (i < file.lines.size() && ParseLine(file.lines[i].text, false).kind != LineKind::Section) {
        ++i;
    }
    return i;
}

std::optional<std::size_t> FindKey(const FileText& file, std::size_t header, std::string_view key) {
    std::size_t end = SectionEnd(file, header);
    for (std::size_t i = header + 1; i < end; ++i) {
        ParsedLine parsed = ParseLine(file.lines[i].text, false);
        if (parsed.kind == LineKind::Entry && SameName(parsed.name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// The value without one pair of matching quotes around it, as the platform's
// profile reader gives it: "Sky" and 'Sky' read as Sky; "Sky, Sky' and a
// lone quote stay as they are.
std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string_view CutTo(std::string_view text, std::size_t bufferSize) {
    return bufferSize == 0 ? std::string_view() : text.substr(0, bufferSize - 1);
}

// The line ending new lines get: the file's first one; the platform's
// (CRLF on Windows, LF on POSIX) for a new file or one without any.
std::string NewLineOf(const FileText& file) {
    for (const Line& line : file.lines) {
        if (!line.ending.empty()) {
            return line.ending;
        }
    }
    return std::string(NativeLineEnding());
}

// The pieces one after the other. (Built by appending into a reserved
// string: chains of operator+ on temporaries make g++ 12 warn falsely about
// overlapping copies in optimised builds.)
std::string Joined(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (std::string_view piece : pieces) {
        size += piece.size();
    }
    std::string text;
    text.reserve(size);
    for (std::string_view piece : pieces) {
        text.append(piece);
    }
    return text;
}

// The text to write for value so that it reads back unchanged: value itself,
// or value in double quotes when reading would strip its blanks or a pair of
// quotes.
std::string Quoted(std::string_view value) {
    if (TrimBlanks(value) == value && Unquoted(value) == value) {
        return std::string(value);
    }
    return Joined({"\"", value, "\""});
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Gives the last line, which has none, an ending before a line is added
// after it. A text ending in CR keeps it: a lone LF would turn that CR into
// part of a CRLF ending, and the line would read differently.
void EndLastLine(Line& line, const std::string& newLine) {
    if (!line.ending.empty()) {
        return;
    }
    line.ending = line.text.ends_with('\r') ? "\r\n" : newLine;
}

// Sets key in section on the lines in memory: replaces the key's line, or
// adds it after the section's last entry, or adds the section at the end.
void SetEntry(FileText& file, std::string_view section, const Setting& setting, const std::string& newLine) {
    std::string entry = Joined({setting.key, "=", Quoted(setting.value)});
    std::vector<Line>& lines = file.lines;
    std::optional<std::size_t> header = FindSection(file, section);
    if (!header) {
        if (!lines.empty()) {
            EndLastLine(lines.back(), newLine);
        }
        lines.push_back({Joined({"[", section, "]"}), newLine});
        lines.push_back({entry, newLine});
    } else if (std::optional<std::size_t> found = FindKey(file, *header, setting.key)) {
        lines[*found].text = entry;
    } else {
        // After the section's last entry, so trailing blank lines and
        // comments stay where they are.
        std::size_t after = *header;
        std::size_t end = SectionEnd(file, *header);
        for (std::size_t i = *header + 1; i < end; ++i) {
            bool blank = TrimBlanks(lines[i].text).empty();
            if (!blank && ParseLine(lines[i].text, false).kind != LineKind::Comment) {
                after = i;
            }
        }
        EndLastLine(lines[after], newLine);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1), Line{entry, newLine});
    }
}

}  // namespace

std::string ReadSetting(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback,
                              std::size_t bufferSize) {
    const SettingRead read{section, key, fallback, bufferSize};
    return ReadSettings(path, {&read, 1}).front();
}

std::vector<std::string> ReadSettings(const std::string& path, std::span<const SettingRead> reads) {
    FileText file;
    const bool loaded = LoadFile(path, file) == 0;
    std::vector<std::string> values;
    for (const SettingRead& read : reads) {
        std::string_view value = read.fallback;
        if (std::optional<std::size_t> header = loaded ? FindSection(file, read.section) : std::nullopt) {
            if (std::optional<std::size_t> entry = FindKey(file, *header, read.key)) {
                // Cut after the quotes are gone: the buffer holds the value.
                value = Unquoted(ParseLine(file.lines[*entry].text, false).value);
            }
        }
        values.emplace_back(CutTo(value, read.bufferSize));
    }
    return values;
}

int WriteSettings(const std::string& path, std::string_view section, std::span<const Setting> settings) {
    bool refused = HasLineBreak(section);
    for (const Setting& setting : settings) {
        refused = refused || HasLineBreak(setting.key) || HasLineBreak(setting.value);
    }
    if (refused) {
        return InvalidDataError();
    }
    FileText file;
    if (int error = LoadFile(path, file); error != 0) {
        return error;
    }
    const std::string newLine = NewLineOf(file);
    for (const Setting& setting : settings) {
        SetEntry(file, section, setting, newLine);
    }
    std::size_t size = 0;
    for (const Line& line : file.lines) {
        size += line.text.size() + line.ending.size();
    }
    std::string bytes;
    bytes.reserve(size);
    for (const Line& line : file.lines) {
        bytes += line.text;
        bytes += line.ending;
    }
    return ReplaceFileContent(path, bytes, file.stored);
}

bool WriteSetting(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value) {
    const Setting setting{key, value};
    return WriteSettings(path, section, {&setting, 1}) == 0;
}

int DecimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    const SignedDigits scan = ScanSignedDigits(text, i);
    const long long value = scan.negative ? -scan.magnitude : scan.magnitude;
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}
