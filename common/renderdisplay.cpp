#include "renderdisplay.h"

#include <cstdlib>
#include <iostream>

#include <X11/Xlib.h>

Display* OpenRenderDisplay(const char* tool, const char* target)
{
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
