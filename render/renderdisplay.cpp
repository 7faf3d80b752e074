#include "render/renderdisplay.h"

#include "parallel/parallel.h"

#include <cstdlib>
#include <iostream>
#include <string>

#include <X11/Xlib.h>

Display* OpenRenderDisplay(const char* tool, const char* target)
{
  // Mesa's software renderer draws on as many threads as the machine has
  // cores unless told otherwise: as many as the process may use.
  setenv("LP_NUM_THREADS", std::to_string(WorkThreads()).c_str(), 0);
  Display* display = XOpenDisplay(nullptr);
  if (!display)
  {
    const char* name = std::getenv("DISPLAY");
    std::cout << "Cannot open the X display \"" << (name ? name : "") << "\" to render " << target
              << " (without a display, run: xvfb-run -a " << tool << " ...)\n";
    return nullptr;
  }
  int opcode;
  int event;
  int error;
  if (!XQueryExtension(display, "GLX", &opcode, &event, &error))
  {
    std::cout << "Cannot render " << target << ": the X display \"" << DisplayString(display)
              << "\" offers no OpenGL (GLX)\n";
    XCloseDisplay(display);
    return nullptr;
  }
  return display;
}

void CloseRenderDisplay(Display* display)
{
  XCloseDisplay(display);
}
