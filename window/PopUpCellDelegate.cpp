#include "window/PopUpCellDelegate.h"

#include <QComboBox>
#include <QTimer>

#include "editor/PropertyCells.h"
#include "window/TableViewController.h"

namespace velmora::window {
namespace {

// Set once the user picked an entry. The view also commits an editor that merely
// loses focus (a click elsewhere, Escape); such a list was only looked at, and
// writing its shown entry would change a value the user never chose (a cell
// showing "Empty Value" selects entry 0).
constexpr const char* kChosen = "velmoraChosen";

}  // namespace

QWidget* PopUpCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex& index) const {
    auto* popUp = new QComboBox(parent);
    popUp->setObjectName("popUpCell");
    popUp->addItems(index.data(TableViewController::kPopupTitlesRole).toStringList());
    // activated, not currentIndexChanged: choosing the entry already shown still
    // writes it, as a pop-up list does.
    connect(popUp, &QComboBox::activated, this, [this, popUp] {
        popUp->setProperty(kChosen, true);
        auto* self = const_cast<PopUpCellDelegate*>(this);
        emit self->commitData(popUp);
        emit self->closeEditor(popUp);
    });
    // Dropped down once it is placed over the cell: one click opens the list.
    QTimer::singleShot(0, popUp, [popUp] {
        if (popUp->count() > 0 && popUp->isVisible()) popUp->showPopup();
    });
    return popUp;
}

void PopUpCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* popUp = static_cast<QComboBox*>(editor);
    const std::optional<std::size_t> position = editor::popupPosition(
        index.data(Qt::EditRole).toString().toStdString(), static_cast<std::size_t>(popUp->count()));
    popUp->setCurrentIndex(position ? static_cast<int>(*position) : -1);
}

void PopUpCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
    auto* popUp = static_cast<QComboBox*>(editor);
    const int position = popUp->currentIndex();
    if (!popUp->property(kChosen).toBool() || position < 0) return;
    popUp->setProperty(kChosen, false);  // one choice, one write
    model->setData(index, position, Qt::EditRole);
}

}  // namespace velmora::window
