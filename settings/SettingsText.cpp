#include "settings/SettingsText.h"

#include <cmath>
#include <limits>

namespace SettingsText {

QString numberText(qint64 value)
{
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

QString numberText(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return numberText(static_cast<qint64>(value));
    // 'g' with 17 digits reads back to the same double.
    QString digits = QString::number(std::fabs(value), 'g', 17);
    return (value < 0 ? QLatin1Char('-') : QLatin1Char(' ')) + digits;
}

double numberValue(const QString &text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const int start = i;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    int digits = 0;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        int j = i + 1;
        int fraction = 0;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) {
            ++j;
            ++fraction;
        }
        if (fraction > 0 || digits > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0.0;
    bool ok = false;
    const double v = text.mid(start, i - start).toDouble(&ok);
    return ok ? v : 0.0;
}

std::optional<qint64> integerValue(const QString &text, qint64 min, qint64 max)
{
    const double v = numberValue(text);
    // nearbyint rounds with the default mode, which is to nearest, ties to even.
    const double r = std::nearbyint(v);
    if (!std::isfinite(r) || r < static_cast<double>(min) || r > static_cast<double>(max))
        return std::nullopt;
    return static_cast<qint64>(r);
}

} // namespace SettingsText
