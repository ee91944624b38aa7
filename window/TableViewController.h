#pragma once
// The property table's model: the rows of the core's property model, the
// "property" and "curValue" columns. Display only here; choosing an option in a
// cell is the editor's work and comes with it.
#include <QAbstractTableModel>

#include "editor/PropertyModel.h"

namespace velmora::window {

class TableViewController final : public QAbstractTableModel {
    Q_OBJECT

public:
    TableViewController(velmora::Console& console, QObject* parent);

    editor::PropertyModel& model() { return model_; }

    // Each replaces the items, then tells the table its rows changed.
    void LoadIni(const std::string& folder, const std::string& definition);
    void clear();
    void RefreshCurValues(const FirmwareBuffer& flashPage);
    void selectPage(const std::string& pageName);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    editor::PropertyModel model_;
};

// Column identifiers, which are also their headers, and widths.
inline constexpr const char* kPropertyColumn = "property";
inline constexpr const char* kCurValueColumn = "curValue";
inline constexpr int kPropertyColumnWidth = 266;
inline constexpr int kCurValueColumnWidth = 170;

}  // namespace velmora::window
