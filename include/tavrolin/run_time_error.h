#pragma once

#include <QString>

#include <stdexcept>

#include "tavrolin_export.h"

namespace tavrolin {

// The one error type of the control: a number, the part that raised it and a description.
// Hosts catch it from setEmployeeID(); inside the control each operation traps it or lets it
// pass, as that operation's behaviour requires.
class TAVROLIN_EXPORT RunTimeError : public std::runtime_error {
public:
    RunTimeError(int number, QString source, QString description);

    int number() const noexcept { return mNumber; }
    const QString& source() const noexcept { return mSource; }
    const QString& description() const noexcept { return mDescription; }

private:
    int mNumber;
    QString mSource;
    QString mDescription;
};

// The numbers a RunTimeError carries.
namespace errors {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int ObjectNotSet = 91;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int IndexOutOfBounds = 35600;
}  // namespace errors

}  // namespace tavrolin
