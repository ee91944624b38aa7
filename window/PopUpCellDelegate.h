#pragma once
// The "curValue" cells as pop-up lists: a click on a cell opens a combo box
// already dropped down, listing the property's option titles with the entry of
// the cell's value selected; picking an entry (the selected one too) hands its
// position to the model at once and closes the list.
#include <QStyledItemDelegate>

namespace velmora::window {

class PopUpCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

}  // namespace velmora::window
