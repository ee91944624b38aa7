#include "window/TableViewController.h"

#include "editor/PropertyCells.h"

namespace velmora::window {
namespace {

const char* columnName(int column) {
    return column == kPropertyColumnIndex ? kPropertyColumn : kCurValueColumn;
}

QStringList toStringList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts) list << QString::fromStdString(text);
    return list;
}

}  // namespace

TableViewController::TableViewController(velmora::Console& console, FirmwareBuffer& flashPage,
                                         QObject* parent)
    : QAbstractTableModel(parent), model_(console), flashPage_(flashPage) {}

void TableViewController::LoadIni(const std::string& folder, const std::string& definition) {
    beginResetModel();
    model_.LoadIni(folder, definition);
    endResetModel();
    countRows();
}

void TableViewController::clear() {
    beginResetModel();
    model_.clear();
    endResetModel();
    countRows();
}

void TableViewController::RefreshCurValues(const FirmwareBuffer& flashPage) {
    beginResetModel();
    model_.RefreshCurValues(flashPage);
    endResetModel();
    countRows();
}

void TableViewController::selectPage(const std::string& pageName) {
    beginResetModel();
    model_.selectPage(pageName);
    endResetModel();
    countRows();
}

void TableViewController::reloadData() {
    const int rows = rowCount();
    if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1));
    countRows();
}

void TableViewController::countRows() {
    // Qt asks rowCount many times per repaint, and a console line each time would
    // flood the system log; the count is written once per reload instead, which is
    // when the table takes a new one.
    (void)model_.numberOfRows();
}

int TableViewController::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(model_.propItemList().size());
}

int TableViewController::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant TableViewController::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (role == kPopupTitlesRole) {
        if (index.column() != kCurValueColumnIndex) return {};
        return toStringList(model_.popupTitles(row));
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole) return {};
    return QString::fromStdString(model_.cellValue(row, columnName(index.column())));
}

QVariant TableViewController::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromLatin1(columnName(section));
}

Qt::ItemFlags TableViewController::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kCurValueColumnIndex) flags |= Qt::ItemIsEditable;
    return flags;
}

bool TableViewController::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() != kCurValueColumnIndex) return false;
    bool isNumber = false;
    const int position = value.toInt(&isNumber);
    if (!isNumber || position < 0) return false;
    const editor::OptionResult result = model_.chooseOption(flashPage_, static_cast<std::size_t>(index.row()),
                                                            static_cast<std::size_t>(position));
    if (result.outcome == editor::OptionOutcome::Changed) reloadData();
    if (onOptionChosen) onOptionChosen(result);
    return result.outcome == editor::OptionOutcome::Changed;
}

}  // namespace velmora::window
