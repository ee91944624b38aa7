#include "window/UpdateBox.h"

#include <QGroupBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTextEdit>
#include <cmath>

#include "window/ControlFactory.h"
#include "window/WindowTexts.h"

namespace velmora::window {
namespace {

// The whole text of a view takes one colour at a time.
void setTextColour(QWidget* view, Qt::GlobalColor colour) {
    QPalette palette = view->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, colour);
    }
    view->setPalette(palette);
}

}  // namespace

UpdateBox::UpdateBox(QGroupBox& frame) : box(&frame) {
    QWidget* area = makeContentArea(box);
    makeCaption(area, texts::kDetectHubInfo, {0, 315, 110, 20});
    nstfHubInfo_UpdateFW = new QPlainTextEdit;
    nstfHubInfo_UpdateFW->setReadOnly(true);
    // Several hubs are listed one a line: the field scrolls when they do not fit.
    nstfHubInfo_UpdateFW->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    placeInParent(nstfHubInfo_UpdateFW, area, {0, 255, 335, 60});
    makeCaption(area, texts::kUpdateFwInfo, {0, 225, 110, 20});
    nstfUpdateInfo_UpdateFW = makeTextView(area, {0, 35, 335, 190}, texts::kPaneFontPoints);
    nstfUpdateInfo_UpdateFW->setObjectName("statusPane");
    slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 100);
    placeInParent(slider, area, {0, 0, 330, 20});
}

void UpdateBox::resetProgressInfo() {
    nstfUpdateInfo_UpdateFW->clear();
}

void UpdateBox::appendProgressInfo_Blue(const QString& text) {
    append(text, Qt::blue);
}

void UpdateBox::appendProgressInfo_Red(const QString& text) {
    append(text, Qt::red);
}

void UpdateBox::append(const QString& text, Qt::GlobalColor colour) {
    nstfUpdateInfo_UpdateFW->setPlainText(nstfUpdateInfo_UpdateFW->toPlainText() + text);
    setTextColour(nstfUpdateInfo_UpdateFW, colour);
}

void UpdateBox::updateProgressBar(double value) {
    slider->setValue(static_cast<int>(std::lround(value)));
}

void UpdateBox::showHubInfo(const HubInfo& info) {
    nstfHubInfo_UpdateFW->setPlainText(QString::fromStdString(info.text));
    setTextColour(nstfHubInfo_UpdateFW, info.colour == TextColour::Blue ? Qt::blue : Qt::red);
}

}  // namespace velmora::window
