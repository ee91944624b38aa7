#pragma once
// The property table's model: the rows of the core's property model, the
// "property" and "curValue" columns, and the choice of an option in a
// "curValue" cell. The rows are the core's own items (shared, not copied), so a
// choice made here shows in every list that holds the item. Every rule (which
// entry a cell selects, whether a property may change, which bits change) is the
// core's; this class only hands the table's questions and answers through.
#include <QAbstractTableModel>
#include <QStringList>
#include <functional>

#include "editor/PropertyModel.h"

namespace velmora::window {

class TableViewController final : public QAbstractTableModel {
    Q_OBJECT

public:
    // The pop-up entries of a "curValue" cell, as a QStringList.
    static constexpr int kPopupTitlesRole = Qt::UserRole + 1;

    // Choices in the table edit flashPage, the flash page's buffer.
    TableViewController(velmora::Console& console, FirmwareBuffer& flashPage, QObject* parent);

    editor::PropertyModel& model() { return model_; }

    // Each replaces the items, then tells the table its rows changed.
    void LoadIni(const std::string& folder, const std::string& definition);
    void clear();
    void RefreshCurValues(const FirmwareBuffer& flashPage);
    void selectPage(const std::string& pageName);
    // Redraws every cell from the items (the rows stay), so a pop-up shows the
    // stored value again after a refused choice, and properties sharing a byte
    // show the change of one of them.
    void reloadData();

    // Told the outcome of every choice made in the table (the binary view's
    // highlight, the not-editable alert).
    std::function<void(const editor::OptionResult&)> onOptionChosen;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // value: the position of the pop-up entry the user chose.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    // The table's rows were rebuilt or redrawn: counts them once, as the table does.
    void countRows();

    editor::PropertyModel model_;
    FirmwareBuffer& flashPage_;
};

// Column identifiers, which are also their headers, and widths.
inline constexpr const char* kPropertyColumn = "property";
inline constexpr const char* kCurValueColumn = "curValue";
inline constexpr int kPropertyColumnIndex = 0;
inline constexpr int kCurValueColumnIndex = 1;
inline constexpr int kPropertyColumnWidth = 266;
inline constexpr int kCurValueColumnWidth = 170;

}  // namespace velmora::window
