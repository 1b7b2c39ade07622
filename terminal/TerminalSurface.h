#pragma once

class TerminalRenderer;

// Where the terminal handler puts text. The terminal window can be closed and created again
// at any time, so the handler asks for the renderer on every use and never keeps it.
// The application implements this on top of its terminal window.
class TerminalSurface {
public:
    virtual ~TerminalSurface() = default;
    // The renderer of the terminal window; a closed window is created and shown first, so
    // received text brings the window back.
    virtual TerminalRenderer &renderer() = 0;
};
