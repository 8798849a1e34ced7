// What the command can tell about the files it is given, for its warnings
// and hints: their names, the format a file starts with, why a write failed.
#ifndef VELMORA_TOOLS_FILES_H
#define VELMORA_TOOLS_FILES_H

#include <filesystem>
#include <string>

#include "formats.h"

namespace velmora_cli {

// Paths are UTF-8 strings throughout the command, as the library takes them.
// On Windows a std::filesystem::path made from a narrow string would read it
// in the ANSI code page: these convert both ways without loss.
std::filesystem::path fs_path(const std::string &utf8);
std::string utf8_of(const std::filesystem::path &path);

// The last part of a path: what follows its last slash or backslash.
std::string file_name(const std::string &path);

// The format the file's first bytes name; FORMAT_UNKNOWN also when it cannot
// be read.
velmora::ImageFormat sniff_format(const std::string &path);

// After a failed write of `output` from `input`: one line on the cause, when
// it can be told for sure; otherwise "". `out_of_space`: the failing call's
// last error said the device is full (the library has already removed what
// it wrote, so the free space no longer shows it).
std::string write_failure_hint(const std::string &input, const std::string &output,
                               bool out_of_space = false);

// After a failed read of `input`: one line on the cause (no such file, a
// folder, no permission, an empty file), when it is one of those; else "".
std::string read_failure_hint(const std::string &input);

// Whether errno, as a failed call left it, says the device or quota is full.
bool errno_says_full();

// Creates `folder` with its parents; false and a reason when that fails.
bool make_folder(const std::string &folder, std::string &error);

// Creates the folder that will hold `output`, with its parents; false and a
// reason when that fails.
bool make_output_folder(const std::string &output, std::string &error);

// A new folder for temporary files, readable by this user only (it holds
// pictures); false and a reason when none can be made.
bool make_temp_folder(std::string &folder, std::string &error);

}  // namespace velmora_cli

#endif
