#pragma once

#include <QString>
#include <QStringView>

// Number conversions and text pictures the control relies on. Every conversion is exact on the
// decimal text (no floating point), so 2.5 rounds to 2 and 2.5000000001 to 3.
namespace tavrolin::text {

// True when the whole text reads as a decimal number: blanks, an optional sign, digits with an
// optional fraction ("5", " -12.50 ", ".5", "7."), blanks. Nothing else: no exponent, no
// separators, no letters.
bool isNumeric(QStringView text);

// True for a plain decimal whole number: one or more digits and nothing else.
bool isWholeNumberText(QStringView text);

// Converts numeric text, rounding a fraction to the nearest whole number (ties to even).
// Not a number: RunTimeError 13 (type mismatch); outside the type's range: 6 (overflow).
qint32 toInt32(QStringView text, const QString& source = QString());
qint16 toInt16(QStringView text, const QString& source = QString());

// Checked 16-bit arithmetic: a result outside -32768..32767 is an overflow (6).
qint16 add16(qint16 a, qint16 b, const QString& source = QString());
qint16 multiply16(qint16 a, qint16 b, const QString& source = QString());
qint16 narrow16(qint64 value, const QString& source = QString());

// The format picture "000000": the number at least six digits wide, zero-padded on the left
// (123 -> 000123, 000123 -> 000123, 1234567 -> 1234567). Text that is not a number is
// returned unchanged.
QString sixDigitPicture(QStringView numberText);

// Plain decimal text: no leading zeros, a minus sign when negative.
QString decimal(qint64 value);

// Rounds a double to a whole number, ties to even (used for widths read in twips).
qint64 roundHalfEven(double value);

}  // namespace tavrolin::text
