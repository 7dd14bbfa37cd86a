#pragma once

#include <QString>

namespace tavrolin {

// Form-encodes a text for an application/x-www-form-urlencoded field, one Windows-1252 byte per
// character: space becomes "+", the unreserved characters * - . _ 0-9 A-Z a-z stay, everything
// else becomes "%" and two capital hex digits. A character outside the code page travels as
// "?" (%3F), the code page's own replacement.
QString urlEncode(const QString& theData);

}  // namespace tavrolin
