#include "saving/url_encode.h"

#include "common/windows_1252.h"

#include <QList>

namespace tavrolin {

namespace {
bool passesUnchanged(int c) {
    return c == 42 || c == 45 || c == 46 || (c >= 48 && c <= 57) || (c >= 65 && c <= 90) ||
           c == 95 || (c >= 97 && c <= 122);
}
}  // namespace

QString urlEncode(const QString& theData) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    QString result;
    result.reserve(theData.size() * 3);
    for (char32_t codePoint : theData.toUcs4()) {
        int c = cp1252::fromUnicode(codePoint);
        if (c < 0) c = cp1252::kReplacement;
        if (c == 32) {
            result += u'+';
        } else if (passesUnchanged(c)) {
            result += QChar(c);
        } else {
            result += u'%';
            result += QChar(kHex[c >> 4]);
            result += QChar(kHex[c & 0xF]);
        }
    }
    return result;
}

}  // namespace tavrolin
