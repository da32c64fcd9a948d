#pragma once

// Tells, before the toolkit's application object is made, whether the toolkit will find a
// display to show the window on: when none of the platforms it tries can be opened, the toolkit
// aborts the process.
class CDisplayCheck
{
public:
    // True when one of the platforms the toolkit would try can be used: one that draws without
    // a display (offscreen and the like), an X display that accepts this program, or a Wayland
    // compositor's socket together with the toolkit's Wayland platform plugin.
    static bool displayAvailable();
};
