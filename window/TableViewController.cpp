#include "window/TableViewController.h"

namespace velmora::window {
namespace {

const char* columnName(int column) {
    return column == 0 ? kPropertyColumn : kCurValueColumn;
}

}  // namespace

TableViewController::TableViewController(velmora::Console& console, QObject* parent)
    : QAbstractTableModel(parent), model_(console) {}

void TableViewController::LoadIni(const std::string& folder, const std::string& definition) {
    beginResetModel();
    model_.LoadIni(folder, definition);
    endResetModel();
}

void TableViewController::clear() {
    beginResetModel();
    model_.clear();
    endResetModel();
}

void TableViewController::RefreshCurValues(const FirmwareBuffer& flashPage) {
    beginResetModel();
    model_.RefreshCurValues(flashPage);
    endResetModel();
}

void TableViewController::selectPage(const std::string& pageName) {
    beginResetModel();
    model_.selectPage(pageName);
    endResetModel();
}

int TableViewController::rowCount(const QModelIndex& parent) const {
    // Qt asks for the row count many times per repaint; the model's own count also
    // writes a console line each time, which would flood the system log.
    return parent.isValid() ? 0 : static_cast<int>(model_.propItemList().size());
}

int TableViewController::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant TableViewController::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return QString::fromStdString(
        model_.cellValue(static_cast<std::size_t>(index.row()), columnName(index.column())));
}

QVariant TableViewController::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromLatin1(columnName(section));
}

}  // namespace velmora::window
