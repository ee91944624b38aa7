#pragma once
// The detail box: the flash page's image shown page by page. The page and chip
// lists, the property table (whose pop-ups edit the image), the description of
// the selected property and the binary view with the last change in red.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/DefinitionChoices.h"
#include "window/BoxServices.h"

class QComboBox;
class QGroupBox;
class QTableView;
class QTextEdit;

namespace velmora::editor {
struct OptionResult;
}

namespace velmora::window {

class TableViewController;

class DetailBox {
public:
    // Fills box (already titled and placed) with its controls; lists the chip
    // definitions found and selects the first page and chip without reporting a
    // change.
    DetailBox(QGroupBox& frame, const BoxServices& services);

    void ICTypeCombBox_SelectedChanged();
    void PageNameCombBox_SelectedChanged();

    // The table from the chosen chip's definition and the image, then the first page.
    void redrawFlashPage();
    // The first page again, drawn from the buffer as it is.
    void showFirstPage();
    // The table from the chosen chip's definition and the image, page left as it is.
    void loadTable();
    // No image: an empty table and the binary view saying so.
    void showNoImage();
    // The binary view of the image, bytes offsetBegin to offsetEnd in red.
    void ShowBinary(std::uint32_t offsetBegin, std::uint32_t offsetEnd);

    // Told each time a page was shown (the flash box refills its fields).
    std::function<void()> pageShown;

    QGroupBox* box;
    QComboBox* cbPages = nullptr;
    QComboBox* cbICType = nullptr;
    QTextEdit* txtViewDesc_Detail = nullptr;
    QTextEdit* txtViewBin_Detail = nullptr;
    QTableView* tableView_Detail = nullptr;
    TableViewController* tbViewController = nullptr;

private:
    void buildPropertyTable(QWidget* area);
    void connectPropertyTable();
    void fillDefinitionList();
    // The outcome of an option chosen in the table.
    void optionChosen_Detail(const editor::OptionResult& result);
    std::string selectedDefinitionFolder() const;
    std::string selectedDefinition() const;

    const BoxServices& services_;
    std::vector<editor::DefinitionChoice> definitionChoices_;
};

}  // namespace velmora::window
