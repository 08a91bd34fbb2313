// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>

class ProgressBar {
public:
    ProgressBar(std::int64_t total, bool enabled);
    ~ProgressBar();  // ends the line when a bar was drawn
    void advance(std::int64_t bytes);

private:
    void draw();

    std::int64_t total_, done_ = 0;
    bool enabled_, drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};
