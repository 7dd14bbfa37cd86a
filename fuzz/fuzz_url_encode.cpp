// What the control encodes, the server decodes back: text within Windows-1252 arrives exactly,
// any other character arrives as "?", and the encoding uses only the form's safe characters.

#include <cstddef>
#include <cstdint>
#include <string>

#include <QList>
#include <QString>

#include "common/windows_1252.h"
#include "form_decoding.h"
#include "fuzz_check.h"
#include "saving/url_encode.h"

using namespace tavrolin;

namespace {

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

bool isUnreserved(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
           c == u'*' || c == u'-' || c == u'.' || c == u'_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Pairs of bytes as UTF-16 code units, so unpaired surrogates turn up as well.
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    const QString encoded = urlEncode(text);

    // One token per character: a safe character, "+" for a space, or %XX.
    const QList<uint> codePoints = text.toUcs4();
    qsizetype tokens = 0;
    for (qsizetype i = 0; i < encoded.size(); ++tokens) {
        const QChar c = encoded[i];
        if (c == u'%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            FUZZ_CHECK(isHexDigit(encoded[i + 1]) && isHexDigit(encoded[i + 2]));
            i += 3;
        } else {
            FUZZ_CHECK(c == u'+' || isUnreserved(c));
            ++i;
        }
    }
    FUZZ_CHECK(tokens == codePoints.size());

    QString expected;
    bool withinCodePage = true;
    for (const uint codePoint : codePoints) {
        int byte = cp1252::fromUnicode(char32_t(codePoint));
        if (byte < 0) {
            withinCodePage = false;
            byte = cp1252::kReplacement;
        }
        const char32_t arrived = cp1252::toUnicode(std::uint8_t(byte));
        expected += QString::fromUcs4(&arrived, 1);
    }
    if (withinCodePage) FUZZ_CHECK(expected == text);

    const std::string wire = encoded.toStdString();
    std::string decoded;
    FUZZ_CHECK(server::decodeFormComponent(wire, decoded));
    FUZZ_CHECK(QString::fromStdString(decoded) == expected);

    // As a field of a post body, the way the control sends statements.
    const auto form = server::decodeFormBody("SQL=" + wire + "&");
    FUZZ_CHECK(form.ok);
    FUZZ_CHECK(form.fields.size() == 1);
    FUZZ_CHECK(form.fields[0].name == "SQL" && form.fields[0].value == decoded);
    return 0;
}
