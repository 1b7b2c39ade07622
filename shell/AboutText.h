#pragma once
#include <QString>

class KernelVersion;

// The texts of the About box, as functions of what they show.
namespace AboutText {

inline constexpr const char *ContactEmail = "corvade@example.org";
inline constexpr const char *WebPage = "https://corvade.example.org/";
inline constexpr const char *MailSubject = "Corvade_1.0.0";

QString caption();
// "Version " and the program's own major.minor.revision.
QString version(const QString &programVersion);
QString title();
// The kernel version last reported against the one this program is built for, with a
// warning when they differ or no version was asked for yet.
QString description(const KernelVersion &kernel);
QString disclaimer();

} // namespace AboutText
