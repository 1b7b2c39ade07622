#pragma once
#include "terminal/WriteResult.h"

#include <QString>

class QIODevice;
class TerminalStore;

// "Save Terminal window" writes RTF exactly when the chosen name contains ".rtf" with
// this case, anywhere in it; the dialog's filter plays no part.
bool isRtfFileName(const QString &fileName);

// The terminal's characters as received, without formatting, each line ended by LF: a
// CR, a lone LF and CR LF all end a line in the terminal.
WriteResult writeTerminalText(const TerminalStore &store, QIODevice &out);

// Writes the file in the format its name asks for. The file is replaced only when the
// whole text was written; on failure the reason is in the result.
WriteResult saveTerminalFile(const TerminalStore &store, const QString &fileName);
