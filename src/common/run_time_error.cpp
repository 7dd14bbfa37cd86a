#include "common/errors.h"

namespace tavrolin {

RunTimeError::RunTimeError(int number, QString source, QString description)
    : std::runtime_error(description.toStdString()),
      mNumber(number),
      mSource(std::move(source)),
      mDescription(std::move(description)) {}

namespace errors {

static QString describe(int number) {
    switch (number) {
        case Overflow: return QStringLiteral("Overflow");
        case TypeMismatch: return QStringLiteral("Type mismatch");
        case ObjectNotSet: return QStringLiteral("Object variable or With block variable not set");
        case InvalidPropertyValue: return QStringLiteral("Invalid property value");
        case IndexOutOfBounds: return QStringLiteral("Index out of bounds");
        default: return QStringLiteral("Application-defined or object-defined error");
    }
}

void raise(int number, const QString& source) {
    throw RunTimeError(number, source, describe(number));
}

}  // namespace errors
}  // namespace tavrolin
