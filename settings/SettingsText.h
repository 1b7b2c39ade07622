#pragma once
#include <QString>
#include <optional>

// Text forms of the settings store. Values are kept as text so a store written by
// hand, or by an older version, reads the same way every time.
namespace SettingsText {

// " 13" for 13, "-5" for -5; a fraction only when the value has one.
QString numberText(double value);
QString numberText(qint64 value);

// Skips leading blanks, then takes the longest leading decimal number (sign, digits,
// "." and fraction). Text without a leading number gives 0.
double numberValue(const QString &text);

// The number rounded half to even, if it fits [min, max]; otherwise nothing.
std::optional<qint64> integerValue(const QString &text, qint64 min, qint64 max);

// Only the exact text "True" is true.
inline bool booleanValue(const QString &text) { return text == QLatin1String("True"); }
inline QString booleanText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

} // namespace SettingsText
