// Standard input and output in place of files, for one file: `-` as the
// input is read whole into a temporary file for the call; `-` as the output
// (or /dev/stdout, /dev/fd/N, /proc/self/fd/N, which the library cannot
// write through) is written to a temporary file and copied out only once
// whole, so that a failed call writes nothing there.
#ifndef VELMORA_TOOLS_PIPES_H
#define VELMORA_TOOLS_PIPES_H

#include <string>

#include "batch.h"

namespace velmora_cli {

// The input that names standard input.
bool is_standard_input(const std::string &input);

// The descriptor an output names (1 for `-`), or -1 for a file.
int output_descriptor(const std::string &output);

class Pipes {
public:
    Pipes() = default;
    ~Pipes();  // removes the temporary files
    Pipes(const Pipes &) = delete;
    Pipes &operator=(const Pipes &) = delete;

    // Gives the job temporary paths where it reads or writes a pipe, and
    // reads standard input. False with `error`, or with none after a stop.
    // `format`: the output's extension (jpg, png, bmp), or "" for the input's.
    bool prepare(Job &job, const std::string &format, std::string &error);

    // After a successful call: the output to its descriptor. False with `error`.
    bool deliver(std::string &error) const;

private:
    std::string folder_;
    std::string output_;
    std::string shown_output_;
    int descriptor_ = -1;
};

}  // namespace velmora_cli

#endif
