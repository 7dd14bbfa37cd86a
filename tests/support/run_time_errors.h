#pragma once

#include <tavrolin/run_time_error.h>

#include <functional>

namespace test_support {

// The number of the RunTimeError an operation raises, 0 when it raises none.
inline int errorNumberOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const tavrolin::RunTimeError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace test_support
