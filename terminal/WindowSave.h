#pragma once
#include "core/SteppedJob.h"
#include "terminal/WriteResult.h"

#include <QString>

class Prompter;
class QIODevice;
class StatusSink;
class TerminalStore;

// The saved status log: a quotation mark, the text unchanged (quotation marks inside it
// are not doubled), a quotation mark and CR LF, one byte per character (Latin-1;
// characters beyond it are written as "?").
WriteResult writeStatusText(const QString &text, QIODevice &out);

// Replaces the file only when the whole text was written; on failure the reason names the file.
WriteResult saveStatusFile(const QString &text, const QString &fileName);

// The two save commands of the File menu. Both ask for a name through the main window's
// one file dialog, whose name field fileDialogName is shared with the HEX open command
// and keeps the name chosen last. Cancelling ends the command silently. A failed save is
// reported as an "ERROR: " line naming the file and the reason, on a line of its own
// after statusText (the log as it stands), so the user never takes it for saved.
void saveStatusWindow(const QString &statusText, QString &fileDialogName, Prompter &prompts,
                      StatusSink &status);
// terminal is null when the terminal window is closed: a fresh window is empty. The save
// runs in steps through run; one the user cancels leaves the old file as it was and
// reports nothing.
void saveTerminalWindow(const TerminalStore *terminal, const QString &statusText, QString &fileDialogName,
                        Prompter &prompts, StatusSink &status, const JobRunner &run = runJobToEnd);

// Ends a partial last line of the log, so that the next line stands on its own.
void endPartialStatusLine(const QString &statusText, StatusSink &status);
