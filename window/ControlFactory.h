#pragma once
// The kinds of control the layout is made of, each set up once here: labels,
// display fields, entry fields, captions, buttons and the text views of the
// pane and the detail box.
#include <QString>

#include "window/FrameGeometry.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QWidget;

namespace velmora::window {

// Not editable, no background, no border.
QLabel* makeLabel(QWidget* parent, const char* text, const Frame& frame);
// Not editable, selectable, with the standard border and background.
QLineEdit* makeDisplayField(QWidget* parent, const Frame& frame);
// Editable.
QLineEdit* makeEntryField(QWidget* parent, const Frame& frame);
// Text set, greyed, with the standard border and background.
QLineEdit* makeCaption(QWidget* parent, const char* text, const Frame& frame);
QPushButton* makeButton(QWidget* parent, const char* text, const Frame& frame);
// A read-only plain-text view in its own scroller: vertical scroll bar, no
// horizontal one, no border, lines wrapped at the view's width.
QTextEdit* makeTextView(QWidget* parent, const Frame& frame, int fontPoints);
// A titled box on the window's content, and the area its controls go in.
QGroupBox* makeBox(QWidget* content, const char* title, const Frame& frame, const char* objectName);

}  // namespace velmora::window
