#include "shell/AboutText.h"

#include "link/KernelVersion.h"

#include <QStringList>

namespace AboutText {

QString caption()
{
    return QStringLiteral("About Corvade");
}

QString version(const QString &programVersion)
{
    // Plain decimal parts, whatever the version text carries after them.
    const QStringList parts = programVersion.split(QLatin1Char('.'));
    QStringList numbers;
    for (int i = 0; i < 3; ++i)
        numbers << QString::number(i < parts.size() ? parts[i].toInt() : 0);
    return QStringLiteral("Version ") + numbers.join(QLatin1Char('.'));
}

QString title()
{
    return QStringLiteral("Corvade\r\nCopyright (C) 2026 the Corvade developers");
}

QString description(const KernelVersion &kernel)
{
    QString text;
    bool match = false;
    // Only the first part tells whether a version was asked for: 0.3.1 counts as unknown.
    if (kernel[0] != 0) {
        text = QStringLiteral("Kernel version: ") + kernel.toString() + QStringLiteral("\r\n");
        match = versionMatches(kernel);
    } else {
        text = QStringLiteral("Kernel version: Unknown\r\n");
    }
    text += QStringLiteral("Compiled for use with Kernel version: ") + builtForKernelVersion().toString();
    if (!match)
        text += QStringLiteral("\r\nWARNING: Versions do not match");
    return text;
}

QString disclaimer()
{
    return QStringLiteral(
        "Corvade is free software for talking to 8051 boards. It comes with no warranty: "
        "check what you download before you run it on hardware that drives anything that can "
        "hurt people or property.");
}

} // namespace AboutText
