#pragma once

#include <tavrolin/run_time_error.h>

namespace tavrolin::errors {

// Throws the RunTimeError of that number, with the number's standard description.
[[noreturn]] void raise(int number, const QString& source);

}  // namespace tavrolin::errors
