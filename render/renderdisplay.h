// The X display that VTK's off-screen OpenGL render window draws on. VTK's X
// render window ends the process when there is no display, or one without
// OpenGL: a tool that renders looks first.
#pragma once

// Xlib's own name for a display connection, declared here without Xlib's
// macros (None, Status, Bool), which clash with names in VTK's headers.
struct _XDisplay;
typedef struct _XDisplay Display;

// Opens the display named by DISPLAY for rendering `target`. Returns nullptr
// after printing one line on standard output when there is none ("Cannot
// open the X display ... (without a display, run: xvfb-run -a TOOL ...)") or
// when it offers no OpenGL (GLX). Sets LP_NUM_THREADS, unless it is set, to
// WorkThreads(), so that a software renderer keeps to the process's cores.
Display* OpenRenderDisplay(const char* tool, const char* target);

// Closes a display from OpenRenderDisplay once no render window uses it.
void CloseRenderDisplay(Display* display);
