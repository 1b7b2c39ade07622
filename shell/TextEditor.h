#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>

// Opening the loaded HEX file in a text editor: the command from the settings when one is
// set, otherwise the desktop's default application for plain text.
namespace TextEditor {

// The editor command split into program and arguments, with path added as one more argument
// (nothing added when path is empty). Empty when the command is blank.
QStringList editorCommandLine(const QString &editorCommand, const QString &path);

// The desktop entry chosen for "text/plain" in the mimeapps lists, empty when none is found.
QString defaultTextEntry();
// The Exec line of an installed desktop entry, empty when it cannot be found.
QString desktopEntryExec(const QString &entryName);
// An Exec line split by its own quoting rules, with the file field codes replaced by path
// (dropped when path is empty) and the other field codes removed.
QStringList desktopExecCommand(const QString &exec, const QString &path);

// Starts the editor on path (with no file when path is empty). Returns 1 when an editor was
// started, 0 when not. The wait is meant for tests and scripted use.
int32_t open(const QString &editorCommand, const QString &path, bool wait = false);

} // namespace TextEditor
