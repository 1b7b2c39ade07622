#include "link/KernelVersion.h"

QString KernelVersion::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(m_parts[0]).arg(m_parts[1]).arg(m_parts[2]);
}

const KernelVersion &builtForKernelVersion()
{
    static const KernelVersion builtFor = KernelVersion::of(1, 0, 0);
    return builtFor;
}

bool versionMatches(const KernelVersion &version)
{
    for (int i = 0; i < 3; ++i)
        if (version[i] != builtForKernelVersion()[i])
            return false;
    return true;
}
