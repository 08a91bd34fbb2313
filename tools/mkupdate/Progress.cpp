#include "tools/mkupdate/Progress.h"

#include <cstdio>
#include <string>

namespace {
constexpr int kWidth = 40;
}

ProgressBar::ProgressBar(std::int64_t total, bool enabled) : total_(total), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
    if (!drawn_) return;
    draw();
    std::fputc('\n', stderr);
}

void ProgressBar::advance(std::int64_t bytes) {
    done_ += bytes;
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    draw();
}

void ProgressBar::draw() {
    int percent = total_ > 0 ? int(done_ * 100 / total_) : 100;
    int filled = percent * kWidth / 100;
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(kWidth - filled), ' ');
    std::fprintf(stderr, "\r[%s] %3d%%  %lld / %lld MB", bar.c_str(), percent, (long long)(done_ >> 20),
                 (long long)(total_ >> 20));
    std::fflush(stderr);
    drawn_ = true;
}
