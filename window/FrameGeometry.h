#pragma once
// The layout's frames are written with their origin at the lower-left corner of
// the parent, y growing upwards; Qt puts the origin at the top-left, y growing
// downwards. Every frame of the window goes through this one conversion.
#include <QRect>

class QGroupBox;
class QWidget;

namespace velmora::window {

// x, y, width, height in points, origin at the parent's lower-left corner.
struct Frame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The frame in Qt's coordinates inside a parent of the given size. A frame that
// reaches past the parent's right edge is narrowed to end there, so a control
// is never cut off by its box.
QRect toQtRect(const Frame& frame, int parentWidth, int parentHeight);

// The frame applied to a widget inside parent (whose size must already be final).
void placeInParent(QWidget* widget, QWidget* parent, const Frame& frame);

// A titled box draws its title and border inside its own geometry; its controls
// are placed in the area left inside them. This widget covers that area and is
// the parent the box's controls are laid out in.
QWidget* makeContentArea(QGroupBox* box);

}  // namespace velmora::window
