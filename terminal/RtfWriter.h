#pragma once
#include "terminal/WriteResult.h"

class QIODevice;
class TerminalStore;

// Writes the terminal as an RTF document: a colour table of the colours used, one
// group of characters per colour run, one fixed-pitch font at 8.5 points. "\", "{" and
// "}" are escaped and bytes outside printable ASCII written as \'hh, so every byte
// reads back as the character it showed. Each line end (CR LF, lone CR, lone LF)
// becomes \par. Streams from the store block by block.
WriteResult writeTerminalRtf(const TerminalStore &store, QIODevice &out);
