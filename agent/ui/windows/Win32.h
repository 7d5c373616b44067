// The few helpers every window of the program uses over plain Win32.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace kzb::ui {

// The program's module.
HINSTANCE Instance();

// A bitmap of the resources with its background (the drawing's key colour) replaced by
// the system's dialog colour, so that it sits on a button or a dialog seamlessly. Null
// when there is none. The caller owns it.
HBITMAP LoadPicture(unsigned id);
SIZE BitmapSize(HBITMAP bitmap);

// Client area and window rectangle relative to the parent's client area.
SIZE ClientSize(HWND window);
RECT RectInParent(HWND window);
// Moves without resizing (and without activating or changing the z-order).
void MoveTo(HWND window, int x, int y);
// Sets the window's size so that its client area is width by height, keeping its position.
void SetClientSize(HWND window, int width, int height);
// Puts the window into the topmost band, or takes it out, without moving or activating it.
void SetTopmost(HWND window, bool topmost);

std::string WindowText(HWND window);
void SetText(HWND window, const std::string& text);

} // namespace kzb::ui
