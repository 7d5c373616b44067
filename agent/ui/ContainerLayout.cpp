#include "ContainerLayout.h"

#include <algorithm>

namespace kzb::ui {

void ContainerLayout::AddAnnotation(PaneSize size)
{
    if (size.width > 0)
        m_annotationWidth = size.width;
    m_rowTop = size.height;
}

PanePlace ContainerLayout::AddToRow(PaneSize size)
{
    const PanePlace place{m_rowWidth, m_rowTop};
    m_rowWidth += size.width;
    m_rowHeight = std::max(m_rowHeight, size.height);
    return place;
}

PanePlace ContainerLayout::StatusPlace() const
{
    return {0, m_rowTop + m_rowHeight};
}

void ContainerLayout::AddStatus(PaneSize size)
{
    m_statusWidth = size.width;
    m_statusHeight = size.height;
}

PaneSize ContainerLayout::ClientSize() const
{
    return {std::max({m_annotationWidth, m_rowWidth, m_statusWidth}), m_rowTop + m_rowHeight + m_statusHeight};
}

} // namespace kzb::ui
