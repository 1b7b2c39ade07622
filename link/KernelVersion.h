#pragma once
#include <QString>
#include <QtGlobal>
#include <array>

// The three version parts last reported by the kernel; 0.0.0 until a query succeeds.
// Kept for the whole run, never persisted.
class KernelVersion {
public:
    quint8 operator[](int index) const { return m_parts.at(static_cast<std::size_t>(index)); }
    void set(int index, quint8 value) { m_parts.at(static_cast<std::size_t>(index)) = value; }
    // The About box treats a first part of 0 as "not asked yet".
    bool isKnown() const { return m_parts[0] != 0; }
    // "1.0.0", "255.10.7": plain decimal parts joined by ".".
    QString toString() const;

    static KernelVersion of(quint8 a, quint8 b, quint8 c)
    {
        KernelVersion v;
        v.m_parts = {a, b, c};
        return v;
    }

private:
    std::array<quint8, 3> m_parts{};
};

// The kernel version this program is built for.
const KernelVersion &builtForKernelVersion();

// True exactly when `version` equals the built-for version in all three parts.
bool versionMatches(const KernelVersion &version);

// The product's web page, written without a scheme, as the version warning names it.
inline constexpr const char *kKernelWebPage = "corvade.example.org/kernel";
