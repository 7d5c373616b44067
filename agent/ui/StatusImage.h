#pragma once

#include "RecorderStatusTable.h"

// The status image: a bitmap for the recorders' call state, with the call state as tooltip.
struct StatusImage
{
    unsigned bitmap;      // IDB_STATUS_* of resource.h
    unsigned tooltip;     // strings::*Id
    const char* tooltipText; // the text of that string
};

// Unavailable or not configured before discarding, before suppressing, before recording.
StatusImage ChooseStatusImage(const RecorderStatusTable& table);

// The status image dialog shows while any recorder has manual suppression or record on
// demand enabled. User-interface thread.
class StatusImageLayout
{
public:
    explicit StatusImageLayout(const RecorderStatusTable* statusTable) : m_statusTable(statusTable) {}

    // True when the visibility changed.
    bool UpdateLayout();
    bool Visible() const { return m_lastVisible; }

private:
    const RecorderStatusTable* m_statusTable;
    bool m_lastVisible = false;
};
