// The progress line of a batch on a terminal: done/total, percentage, elapsed
// and time left, the files in flight; cut to the terminal's width and drawn
// again at its new width after a resize.
#ifndef VELMORA_TOOLS_PROGRESS_H
#define VELMORA_TOOLS_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace velmora_cli {

class Progress {
public:
    // `enabled` false: draws nothing.
    Progress(size_t total, bool enabled);

    void show(size_t done, const std::vector<std::string> &in_flight);

    // Erases the line, so that a message can take its place.
    void clear();

private:
    std::string line(size_t done, const std::vector<std::string> &in_flight) const;

    size_t total_;
    bool enabled_;
    int width_ = 0;
    std::chrono::steady_clock::time_point start_;
};

bool stderr_is_terminal();

// From here on, a resized terminal has the line measured again.
void watch_resizes();

}  // namespace velmora_cli

#endif
