// Text for the terminal and for --json: file names are bytes, mostly UTF-8;
// what reaches either must be valid, and the terminal's line is measured in
// the columns it takes, not in bytes.
#ifndef VELMORA_TOOLS_TEXT_H
#define VELMORA_TOOLS_TEXT_H

#include <cstddef>
#include <string>

namespace velmora_cli {

// The next character of `text` at `at`: its code point and byte count; a byte
// that starts no valid UTF-8 sequence is one character of code point -1.
struct Character {
    long code;
    size_t bytes;
};
Character next_character(const std::string &text, size_t at);

// A name as the terminal may show it: control characters as \n, \t, \xNN,
// invalid UTF-8 bytes as \xNN, everything else as it is.
std::string shown_name(const std::string &text);

// Columns a character takes: 0 for a combining mark, 2 for a wide one (CJK,
// emoji), else 1.
int columns_of(long code);

// Columns the valid UTF-8 `text` takes.
size_t columns(const std::string &text);

// The longest start of `text` that fits `width` columns, cut between
// characters (a combining mark stays with the character before it).
std::string cut_to_columns(const std::string &text, size_t width);

// "text" for JSON: quotes, backslashes and control characters escaped,
// invalid UTF-8 bytes as U+FFFD.
std::string json_string(const std::string &text);

}  // namespace velmora_cli

#endif
