#include "window/DetailBox.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QTableView>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <optional>

#include "app/Console.h"
#include "editor/BinaryView.h"
#include "window/ControlFactory.h"
#include "window/PopUpCellDelegate.h"
#include "window/TableViewController.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::window {

DetailBox::DetailBox(QGroupBox& frame, const BoxServices& services) : box(&frame), services_(services) {
    QWidget* area = makeContentArea(box);
    makeLabel(area, texts::kPageName, {0, 550, 80, 20});
    makeLabel(area, texts::kICType, {230, 590, 60, 20});
    makeLabel(area, texts::kDescription, {0, 340, 110, 20});
    makeLabel(area, texts::kBinaryData, {0, 175, 110, 20});

    cbPages = new QComboBox;
    cbPages->setEditable(false);
    cbPages->setMaxVisibleItems(10);
    for (const char* page : texts::kPages) cbPages->addItem(QString::fromUtf8(page));
    cbPages->setCurrentIndex(0);
    placeInParent(cbPages, area, {70, 547, 150, 25});
    cbICType = new QComboBox;
    cbICType->setEditable(false);
    cbICType->setMaxVisibleItems(10);
    placeInParent(cbICType, area, {280, 588, 150, 25});
    fillDefinitionList();

    txtViewDesc_Detail = makeTextView(area, {0, 200, 450, 140}, texts::kDetailFontPoints);
    txtViewDesc_Detail->setObjectName("descriptionView");
    txtViewBin_Detail = makeTextView(area, {0, 0, 450, 175}, texts::kDetailFontPoints);
    txtViewBin_Detail->setObjectName("binaryView");
    buildPropertyTable(area);

    // Only now that the first items are selected: building reports no change.
    QObject::connect(cbPages, &QComboBox::currentIndexChanged, box,
                     [this] { PageNameCombBox_SelectedChanged(); });
    QObject::connect(cbICType, &QComboBox::currentIndexChanged, box,
                     [this] { ICTypeCombBox_SelectedChanged(); });
}

void DetailBox::buildPropertyTable(QWidget* area) {
    tbViewController = new TableViewController(services_.session.console(),
                                               services_.session.buffers().flashPage, &services_.window);
    tableView_Detail = new QTableView;
    tableView_Detail->setModel(tbViewController);
    tableView_Detail->setFrameShape(QFrame::NoFrame);
    tableView_Detail->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tableView_Detail->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableView_Detail->verticalHeader()->setVisible(false);
    tableView_Detail->setItemDelegateForColumn(kCurValueColumnIndex, new PopUpCellDelegate(tableView_Detail));
    // A click on a value opens its pop-up list (connectPropertyTable); the keyboard's
    // edit key does the same.
    tableView_Detail->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tableView_Detail->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_Detail->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_Detail->setColumnWidth(0, kPropertyColumnWidth);
    tableView_Detail->setColumnWidth(1, kCurValueColumnWidth);
    placeInParent(tableView_Detail, area, {0, 362, 440, 180});
    connectPropertyTable();
}

void DetailBox::connectPropertyTable() {
    // A selected row shows its address, description and options; a cleared
    // selection (a new page, a reload) leaves the text as it is.
    QObject::connect(
        tableView_Detail->selectionModel(), &QItemSelectionModel::currentRowChanged, box,
        [this](const QModelIndex& current) {
            if (!current.isValid()) return;
            txtViewDesc_Detail->setPlainText(QString::fromStdString(
                tbViewController->model().descriptionText(static_cast<std::size_t>(current.row()))));
        });
    QObject::connect(tableView_Detail, &QAbstractItemView::clicked, box, [this](const QModelIndex& index) {
        if (index.column() == kCurValueColumnIndex) tableView_Detail->edit(index);
    });
    tbViewController->onOptionChosen = [this](const editor::OptionResult& result) {
        optionChosen_Detail(result);
    };
}

void DetailBox::fillDefinitionList() {
    const SessionPaths& paths = services_.session.paths();
    definitionChoices_ = editor::listDefinitionChoices(paths.resourcePath, paths.userDataPath);
    for (const editor::DefinitionChoice& choice : definitionChoices_) {
        services_.session.console().line(choice.relativePath);
        cbICType->addItem(QString::fromStdString(choice.relativePath));
    }
    if (!definitionChoices_.empty()) cbICType->setCurrentIndex(0);
}

void DetailBox::optionChosen_Detail(const editor::OptionResult& result) {
    switch (result.outcome) {
        case editor::OptionOutcome::Changed: ShowBinary(result.highlightBegin, result.highlightEnd); break;
        case editor::OptionOutcome::NotEditable:
            // After the alert the pop-up shows the stored value again.
            services_.alertAfterEdit(result.alertText, [this] { tbViewController->reloadData(); });
            break;
        case editor::OptionOutcome::NotLoaded:
        case editor::OptionOutcome::NoSuchRow:
        case editor::OptionOutcome::NoSuchOption: break;
    }
}

void DetailBox::loadTable() {
    tbViewController->LoadIni(selectedDefinitionFolder(), selectedDefinition());
    tbViewController->RefreshCurValues(services_.session.buffers().flashPage);
}

void DetailBox::showNoImage() {
    tbViewController->clear();
    txtViewBin_Detail->setPlainText(QString::fromLatin1(messages::kEmptyBinaryView));
}

void DetailBox::showFirstPage() {
    {
        const QSignalBlocker quiet(cbPages);
        cbPages->setCurrentIndex(0);
    }
    PageNameCombBox_SelectedChanged();
}

void DetailBox::redrawFlashPage() {
    loadTable();
    showFirstPage();
}

void DetailBox::ICTypeCombBox_SelectedChanged() {
    // Without an image the next load or read reads the newly chosen file anyway.
    if (services_.session.buffers().flashPage.loaded) redrawFlashPage();
}

void DetailBox::PageNameCombBox_SelectedChanged() {
    const std::string page = cbPages->currentText().toStdString();
    services_.session.console().line("selected value:" + page);
    tbViewController->selectPage(page);
    ShowBinary(0, 0);
    if (pageShown) pageShown();
}

void DetailBox::ShowBinary(std::uint32_t offsetBegin, std::uint32_t offsetEnd) {
    const std::optional<editor::BinaryViewText> view = editor::ShowBinary(
        services_.session.buffers().flashPage, offsetBegin, offsetEnd, services_.session.console());
    if (!view) return;
    txtViewBin_Detail->setPlainText(QString::fromStdString(view->text));
    QTextCursor cursor(txtViewBin_Detail->document());
    cursor.select(QTextCursor::Document);
    QTextCharFormat black;
    black.setForeground(Qt::black);
    cursor.setCharFormat(black);
    // The changed bytes in red, scrolled into view.
    cursor.setPosition(static_cast<int>(view->highlightStart));
    cursor.setPosition(static_cast<int>(view->highlightStart + view->highlightLength),
                       QTextCursor::KeepAnchor);
    QTextCharFormat red;
    red.setForeground(Qt::red);
    cursor.setCharFormat(red);
    // The end of the range first, then its start: a range taller than the view
    // shows from its first red byte.
    cursor.clearSelection();
    txtViewBin_Detail->setTextCursor(cursor);
    txtViewBin_Detail->ensureCursorVisible();
    cursor.setPosition(static_cast<int>(view->highlightStart));
    txtViewBin_Detail->setTextCursor(cursor);
    txtViewBin_Detail->ensureCursorVisible();
}

std::string DetailBox::selectedDefinition() const {
    const int index = cbICType->currentIndex();
    if (index < 0 || index >= static_cast<int>(definitionChoices_.size())) return {};
    return definitionChoices_[static_cast<std::size_t>(index)].relativePath;
}

std::string DetailBox::selectedDefinitionFolder() const {
    const int index = cbICType->currentIndex();
    if (index < 0 || index >= static_cast<int>(definitionChoices_.size())) return {};
    return definitionChoices_[static_cast<std::size_t>(index)].folder;
}

}  // namespace velmora::window
