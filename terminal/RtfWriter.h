#pragma once
#include "terminal/TerminalSave.h"

#include <memory>

class QIODevice;
class TerminalStore;

// The terminal as an RTF document: a colour table of the colours used, one group of
// characters per colour run, one fixed-pitch font at 8.5 points. "\", "{" and "}" are
// escaped and bytes outside printable ASCII written as \'hh, so every byte reads back as
// the character it showed. Each line end (CR LF, lone CR, lone LF) becomes \par.
// The colour table holds the store's colours as they are when the encoder is made.
std::unique_ptr<TerminalEncoder> makeRtfEncoder(const TerminalStore &store);

// Writes the whole terminal as RTF, streamed from the store block by block.
WriteResult writeTerminalRtf(const TerminalStore &store, QIODevice &out);
