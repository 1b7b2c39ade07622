#pragma once
#include <QString>

#include <functional>

class HexFile;
class StatusSink;
class Prompter;
class Readiness;

// Every way of loading a HEX file (Load, Reload, the recent files, the command line, the
// reload on activation) goes through here, so the outcome is reported the same way.
namespace HexLoad {

// Reads the file at path into hexFile, or the current file again when path is empty, and
// reports the outcome: status lines, a message box for a corrupt file, the readiness change.
// With no file named at all, runLoadCommand is called to let the user pick one.
// Reread::IfChanged lets the current file stand when the file system shows it unchanged
// since it was read; the log and the readiness then tell the same as after a read.
enum class Reread { Always, IfChanged };
void readHexFile(HexFile &hexFile, const QString &path, StatusSink &status,
                 Prompter &prompter, Readiness &state,
                 const std::function<void()> &runLoadCommand, Reread reread = Reread::Always);

// The line written instead of reading while another read is still running.
QString readingText();

// The line written instead of reading while a download of the file is running.
QString downloadingText();

} // namespace HexLoad
