// The container's settings under the current user: whether it is shown and kept on top,
// where it stands, and whether suppression messages are shown. Read at start, saved (with
// the log level) whenever the agent changes one.
#pragma once

class CRegistry;

namespace kzb::ui {

struct DesktopArea
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct WindowSettings
{
    bool showWindow = false;
    bool alwaysOnTop = false;
    int windowTop = 0;
    int windowLeft = 0;
    bool autoSuppressionMessages = false;

    static WindowSettings Read(CRegistry& registry);
    // Brings the container's corner back onto the desktop: not above or left of it, and at
    // least 100 pixels inside its right and bottom edges.
    void KeepOnDesktop(const DesktopArea& desktop);
    // Writes the values the agent changes, with the log level; false when the key could
    // not be opened.
    bool Save(CRegistry& registry, int logLevel) const;
};

} // namespace kzb::ui
