#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Runs a measurement several times (setup excluded) and returns the median in milliseconds.
inline double medianMs(int runs, const std::function<void()>& setup,
                       const std::function<void()>& measured) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        setup();
        const auto start = std::chrono::steady_clock::now();
        measured();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One line per measurement: name, size, median, and the floor measured in the same run.
inline void report(const std::string& name, long size, double ms, double floorMs = -1) {
    if (floorMs >= 0)
        std::printf("%-44s size=%-6ld median=%9.2f ms  floor=%8.2f ms  (x%.1f)\n", name.c_str(),
                    size, ms, floorMs, floorMs > 0 ? ms / floorMs : 0.0);
    else
        std::printf("%-44s size=%-6ld median=%9.2f ms\n", name.c_str(), size, ms);
    std::fflush(stdout);
}

}  // namespace bench
