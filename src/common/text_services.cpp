#include "common/text_services.h"

#include "common/errors.h"

#include <cmath>
#include <limits>
#include <optional>

namespace tavrolin::text {
namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

struct WholeNumber {
    bool negative = false;
    QString digits;  // magnitude, no leading zeros, "0" for zero
};

// Parses numeric text and rounds it to a whole number, half to even, on the digits themselves.
std::optional<WholeNumber> parseRounded(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i])) ++i;
    qsizetype end = n;
    while (end > i && isBlank(text[end - 1])) --end;

    WholeNumber result;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) {
        result.negative = text[i] == u'-';
        ++i;
    }
    const qsizetype intStart = i;
    while (i < end && isDigit(text[i])) ++i;
    QStringView integerPart = text.sliced(intStart, i - intStart);
    QStringView fraction;
    if (i < end && text[i] == u'.') {
        ++i;
        const qsizetype fracStart = i;
        while (i < end && isDigit(text[i])) ++i;
        fraction = text.sliced(fracStart, i - fracStart);
    }
    if (i != end || (integerPart.isEmpty() && fraction.isEmpty())) return std::nullopt;

    qsizetype firstSignificant = 0;
    while (firstSignificant < integerPart.size() && integerPart[firstSignificant] == u'0')
        ++firstSignificant;
    result.digits = integerPart.sliced(firstSignificant).toString();
    if (result.digits.isEmpty()) result.digits = QStringLiteral("0");

    bool roundUp = false;
    if (!fraction.isEmpty()) {
        const QChar first = fraction[0];
        if (first > u'5') {
            roundUp = true;
        } else if (first == u'5') {
            bool restNonZero = false;
            for (qsizetype k = 1; k < fraction.size(); ++k)
                restNonZero = restNonZero || fraction[k] != u'0';
            const int lastDigit = result.digits.back().unicode() - u'0';
            roundUp = restNonZero || (lastDigit % 2 == 1);
        }
    }
    if (roundUp) {
        qsizetype k = result.digits.size() - 1;
        while (k >= 0 && result.digits[k] == u'9') {
            result.digits[k] = u'0';
            --k;
        }
        if (k < 0)
            result.digits.prepend(u'1');
        else
            result.digits[k] = QChar(result.digits[k].unicode() + 1);
    }
    if (result.digits == u"0") result.negative = false;
    return result;
}

qint64 toRanged(QStringView text, qint64 low, qint64 high, const QString& source) {
    const auto number = parseRounded(text);
    if (!number) errors::raise(errors::TypeMismatch, source);
    // 19 digits is beyond every range converted here; checking length first keeps toLongLong safe.
    if (number->digits.size() > 18) errors::raise(errors::Overflow, source);
    qint64 magnitude = number->digits.toLongLong();
    const qint64 value = number->negative ? -magnitude : magnitude;
    if (value < low || value > high) errors::raise(errors::Overflow, source);
    return value;
}

}  // namespace

bool isNumeric(QStringView text) { return parseRounded(text).has_value(); }

bool isWholeNumberText(QStringView text) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (!isDigit(c)) return false;
    return true;
}

qint32 toInt32(QStringView text, const QString& source) {
    return static_cast<qint32>(toRanged(text, std::numeric_limits<qint32>::min(),
                                        std::numeric_limits<qint32>::max(), source));
}

qint16 toInt16(QStringView text, const QString& source) {
    return static_cast<qint16>(toRanged(text, std::numeric_limits<qint16>::min(),
                                        std::numeric_limits<qint16>::max(), source));
}

qint16 narrow16(qint64 value, const QString& source) {
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        errors::raise(errors::Overflow, source);
    return static_cast<qint16>(value);
}

qint16 add16(qint16 a, qint16 b, const QString& source) {
    return narrow16(qint64(a) + qint64(b), source);
}

qint16 multiply16(qint16 a, qint16 b, const QString& source) {
    return narrow16(qint64(a) * qint64(b), source);
}

QString sixDigitPicture(QStringView numberText) {
    const auto number = parseRounded(numberText);
    if (!number) return numberText.toString();
    QString padded = number->digits;
    if (padded.size() < 6) padded.prepend(QString(6 - padded.size(), u'0'));
    return number->negative ? u'-' + padded : padded;
}

QString decimal(qint64 value) { return QString::number(value); }

qint64 roundHalfEven(double value) { return static_cast<qint64>(std::nearbyint(value)); }

}  // namespace tavrolin::text
