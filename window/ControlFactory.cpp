#include "window/ControlFactory.h"

#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include "window/WindowTexts.h"

namespace velmora::window {

QLabel* makeLabel(QWidget* parent, const char* text, const Frame& frame) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setTextFormat(Qt::PlainText);
    placeInParent(label, parent, frame);
    return label;
}

QLineEdit* makeDisplayField(QWidget* parent, const Frame& frame) {
    auto* field = new QLineEdit;
    field->setReadOnly(true);
    placeInParent(field, parent, frame);
    return field;
}

QLineEdit* makeEntryField(QWidget* parent, const Frame& frame) {
    auto* field = new QLineEdit;
    placeInParent(field, parent, frame);
    return field;
}

QLineEdit* makeCaption(QWidget* parent, const char* text, const Frame& frame) {
    auto* caption = new QLineEdit(QString::fromUtf8(text));
    caption->setEnabled(false);
    placeInParent(caption, parent, frame);
    return caption;
}

QPushButton* makeButton(QWidget* parent, const char* text, const Frame& frame) {
    auto* button = new QPushButton(QString::fromUtf8(text));
    placeInParent(button, parent, frame);
    return button;
}

QTextEdit* makeTextView(QWidget* parent, const Frame& frame, int fontPoints) {
    auto* view = new QTextEdit;
    view->setReadOnly(true);
    view->setAcceptRichText(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setLineWrapMode(QTextEdit::WidgetWidth);
    // The layout's points are the window's pixels (its frames are taken one to one),
    // so the font size is given in pixels too; in Qt's points it would grow by the
    // screen's 96/72 and the hex rows would no longer fit the view.
    QFont font(QString::fromLatin1(texts::kViewFont));
    font.setPixelSize(fontPoints);
    view->setFont(font);
    placeInParent(view, parent, frame);
    return view;
}

QGroupBox* makeBox(QWidget* content, const char* title, const Frame& frame, const char* objectName) {
    auto* box = new QGroupBox(QString::fromUtf8(title));
    box->setObjectName(QString::fromLatin1(objectName));
    placeInParent(box, content, frame);
    return box;
}

}  // namespace velmora::window
