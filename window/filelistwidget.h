#pragma once

#include <QListWidget>

namespace Tessaline {

class ExtentDelegate;

// A list of single-line entries that scrolls sideways over a horizontal extent set from outside,
// as a Windows list box does: the horizontal scroll bar shows only while the extent exceeds the
// visible width, and then scrolls over exactly the extent. Entries are not measured by the view,
// so adding many is cheap.
class FileListWidget : public QListWidget
{
    Q_OBJECT

public:
    explicit FileListWidget(QWidget *parent = nullptr);

    // The width in pixels that the list can be scrolled over; 0 (the start) lets no entry be
    // scrolled into view beyond the visible width.
    int horizontalExtent() const;
    void setHorizontalExtent(int pixels);

private:
    ExtentDelegate *m_delegate;
};

} // namespace Tessaline
