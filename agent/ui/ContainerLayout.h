// Where the container's panes go: the annotation pane at the top, the feature panes in a
// row under it (left to right, in the order added), the status text under the row. A pane
// that is not shown is not added and takes no room.
#pragma once

namespace kzb::ui {

struct PaneSize
{
    int width = 0;
    int height = 0;
    bool operator==(const PaneSize&) const = default;
};

struct PanePlace
{
    int x = 0;
    int y = 0;
    bool operator==(const PanePlace&) const = default;
};

class ContainerLayout
{
public:
    // The annotation pane, at the top left; the row starts under it.
    void AddAnnotation(PaneSize size);
    // The next pane of the row; where it goes.
    PanePlace AddToRow(PaneSize size);
    // Where the status pane goes, under the row.
    PanePlace StatusPlace() const;
    // The status pane, when it has text.
    void AddStatus(PaneSize size);
    // The client area that holds every pane added; a zero side when nothing is shown.
    PaneSize ClientSize() const;

private:
    int m_annotationWidth = 0;
    int m_rowTop = 0;
    int m_rowWidth = 0;
    int m_rowHeight = 0;
    int m_statusWidth = 0;
    int m_statusHeight = 0;
};

} // namespace kzb::ui
