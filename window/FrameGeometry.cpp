#include "window/FrameGeometry.h"

#include <QGroupBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace velmora::window {

QRect toQtRect(const Frame& frame, int parentWidth, int parentHeight) {
    // Half points (the save button stands at 37.5) round to the nearer pixel.
    const int x = static_cast<int>(std::lround(frame.x));
    const int width = static_cast<int>(std::lround(frame.width));
    const int height = static_cast<int>(std::lround(frame.height));
    const int top = parentHeight - static_cast<int>(std::lround(frame.y)) - height;
    const int fittingWidth = std::max(0, std::min(width, parentWidth - x));
    return QRect(x, top, fittingWidth, height);
}

void placeInParent(QWidget* widget, QWidget* parent, const Frame& frame) {
    widget->setParent(parent);
    widget->setGeometry(toQtRect(frame, parent->width(), parent->height()));
}

QWidget* makeContentArea(QGroupBox* box) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.lineWidth = 1;
    option.features = QStyleOptionFrame::None;
    const QRect contents =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, box);
    auto* area = new QWidget(box);
    // A thin margin keeps the controls clear of the side lines; the height is
    // all needed, since the tallest box fills its area to within a pixel.
    area->setGeometry(contents.adjusted(2, 0, -2, 0));
    area->setObjectName(box->objectName() + "_content");
    return area;
}

}  // namespace velmora::window
