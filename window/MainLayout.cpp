// MyLayoutUI: every box and control of the window, at the frames the hub's users
// know, converted from the lower-left origin by FrameGeometry.
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTextEdit>

#include "app/Config.h"
#include "app/Console.h"
#include "editor/DefinitionChoices.h"
#include "window/AppDelegate.h"
#include "window/ControlFactory.h"
#include "window/PopUpCellDelegate.h"
#include "window/TableViewController.h"
#include "window/WindowSession.h"
#include "window/WindowTexts.h"

namespace velmora::window {
namespace {

// The help box's border is blue; the title keeps its usual place.
constexpr const char* kBlueBorder =
    "QGroupBox#helpBox { border: 1px solid blue; border-radius: 3px; margin-top: 8px; }"
    "QGroupBox#helpBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }";

QWidget* contentOf(QGroupBox* box) {
    return makeContentArea(box);
}

}  // namespace

void AppDelegate::MyLayoutUI() {
    const AppConfig& config = session_.config();
    setWindowTitle(QString::fromStdString(config.appTitle) + QString::fromLatin1(kAppVersionSuffix));
    QMenu* menu = menuBar()->addMenu(QString::fromStdString(config.appTitle));
    menu->addAction(QString::fromLatin1(texts::kQuit), QKeySequence::Quit, this, &QWidget::close);

    // The boxes keep their place relative to the bottom edge of the final content.
    const bool scalar = config.scalarLayout();
    const int width = scalar ? texts::kScalarWidth : texts::kFullWidth;
    const int height = scalar ? texts::kScalarHeight : texts::kFullHeight;
    auto* content = new QWidget;
    content->setObjectName("content");
    content->setFixedSize(width, height);
    setCentralWidget(content);

    helpBox = makeBox(content, texts::kHelpBox, {0, 15, 350, 160}, "helpBox");
    helpBox->setStyleSheet(QString::fromLatin1(kBlueBorder));
    buildHelpBox();
    scalarBox = makeBox(content, texts::kScalarBox, {0, 185, 350, 90}, "scalarBox");
    buildScalarBox();
    updateBox = makeBox(content, texts::kUpdateBox, {0, 290, 350, 365}, "updateBox");
    buildUpdateBox();
    easyUpdateBox = makeBox(content, texts::kEasyUpdateBox, {360, 15, 350, 270}, "easyUpdateBox");
    buildEasyUpdateBox();
    flashBox = makeBox(content, texts::kFlashBox, {360, 360, 350, 270}, "flashBox");
    buildFlashBox();
    detailBox = makeBox(content, texts::kDetailBox, {720, 15, 450, 637}, "detailBox");
    buildDetailBox();

    scalarBox->setVisible(scalar);
    easyUpdateBox->setVisible(!scalar);
    flashBox->setVisible(!scalar);
    detailBox->setVisible(!scalar);
    // The window keeps the content size of its layout.
    setFixedSize(width, height + menuBar()->sizeHint().height());

    buttonSet_ = {nsbtnSelect_Scalar,      btnLoad_FwFlash,           btnSave_FwFlash, btnSelect_EasyUpdate,
                  nsbtnLoadDriver_HelpBox, nsbtnUnloadDriver_HelpBox, btnRead_FwFlash, btnErase_FwFlash,
                  btnUpdate_EasyUpdate,    nsbtnUpdate_Scalar};
    connectComboBoxes();
}

void AppDelegate::buildHelpBox() {
    QWidget* area = contentOf(helpBox);
    nsbtnLoadDriver_HelpBox = makeButton(area, texts::kLoadDriver, {0, 115, 130, 20});
    nsbtnUnloadDriver_HelpBox = makeButton(area, texts::kUnloadDriver, {175, 115, 130, 20});
    auto* help = makeLabel(area, texts::kHelpText, {0, 25, 350, 85});
    help->setObjectName("helpText");
    help->setFrameShape(QFrame::StyledPanel);
    help->setAutoFillBackground(true);
    help->setBackgroundRole(QPalette::Base);
    help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    help->setWordWrap(true);
    btnGetLog_HelpBox = makeButton(area, texts::kGetLog, {230, 0, 70, 20});
    connect(nsbtnLoadDriver_HelpBox, &QPushButton::clicked, this, &AppDelegate::LoadUpdateDriver);
    connect(nsbtnUnloadDriver_HelpBox, &QPushButton::clicked, this, &AppDelegate::UnloadUpdateDriver);
    connect(btnGetLog_HelpBox, &QPushButton::clicked, this, &AppDelegate::GetLog);
}

void AppDelegate::buildScalarBox() {
    QWidget* area = contentOf(scalarBox);
    nstextfd_Scalar = makeDisplayField(area, {0, 35, 300, 20});
    nstextfd_Scalar->setText(QString::fromStdString(session_.config().fwbinPath));
    nsbtnSelect_Scalar = makeButton(area, texts::kSelectScalar, {305, 35, 30, 20});
    nsbtnUpdate_Scalar = makeButton(area, texts::kScalarUpdate, {230, 5, 100, 20});
    connect(nsbtnSelect_Scalar, &QPushButton::clicked, this, &AppDelegate::chooseScalarUpdateFw);
    connect(nsbtnUpdate_Scalar, &QPushButton::clicked, this, &AppDelegate::MP_UpdateScalar);
}

void AppDelegate::buildUpdateBox() {
    QWidget* area = contentOf(updateBox);
    makeCaption(area, texts::kDetectHubInfo, {0, 315, 110, 20});
    nstfHubInfo_UpdateFW = new QPlainTextEdit;
    nstfHubInfo_UpdateFW->setReadOnly(true);
    nstfHubInfo_UpdateFW->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    placeInParent(nstfHubInfo_UpdateFW, area, {0, 255, 335, 60});
    makeCaption(area, texts::kUpdateFwInfo, {0, 225, 110, 20});
    nstfUpdateInfo_UpdateFW = makeTextView(area, {0, 35, 335, 190}, texts::kPaneFontPoints);
    nstfUpdateInfo_UpdateFW->setObjectName("statusPane");
    slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 100);
    placeInParent(slider, area, {0, 0, 330, 20});
}

void AppDelegate::buildEasyUpdateBox() {
    QWidget* area = contentOf(easyUpdateBox);
    makeLabel(area, "VID", {0, 220, 30, 20});
    makeLabel(area, "SSPID", {100, 220, 50, 20});
    makeLabel(area, "HSPID", {200, 220, 50, 20});
    makeLabel(area, "ver", {250, 190, 30, 20});
    makeLabel(area, "Manufacturer", {0, 160, 100, 20});
    makeLabel(area, "Product", {0, 130, 100, 20});
    makeLabel(area, "Serial Number", {0, 100, 100, 20});
    txtVID_EasyUpdate = makeDisplayField(area, {29, 220, 50, 20});
    txtSSPID_EasyUpdate = makeDisplayField(area, {143, 220, 50, 20});
    txtHSPID_EasyUpdate = makeDisplayField(area, {243, 220, 50, 20});
    txtVer_EasyUpdate = makeDisplayField(area, {273, 190, 50, 20});
    txtManu_EasyUpdate = makeDisplayField(area, {103, 160, 200, 20});
    txtPro_EasyUpdate = makeDisplayField(area, {103, 130, 200, 20});
    txtSN_EasyUpdate = makeDisplayField(area, {103, 100, 200, 20});
    txtFw_EasyUpdate = makeDisplayField(area, {0, 30, 300, 20});
    btnSelect_EasyUpdate = makeButton(area, texts::kSelectEasyUpdate, {303, 30, 30, 20});
    btnUpdate_EasyUpdate = makeButton(area, texts::kUpdate, {250, 0, 70, 20});
    connect(btnSelect_EasyUpdate, &QPushButton::clicked, this, &AppDelegate::chooseFw_EasyUpdate);
    connect(btnUpdate_EasyUpdate, &QPushButton::clicked, this, &AppDelegate::updateFw_EasyUpdate);
}

void AppDelegate::buildFlashBox() {
    QWidget* area = contentOf(flashBox);
    makeLabel(area, "VID", {0, 220, 30, 20});
    makeLabel(area, "SSPID", {100, 220, 50, 20});
    makeLabel(area, "HSPID", {200, 220, 50, 20});
    makeLabel(area, "ver", {250, 200, 30, 20});
    makeLabel(area, "Manufacturer", {0, 175, 100, 20});
    makeLabel(area, "Product", {0, 150, 100, 20});
    makeLabel(area, "Serial Number", {0, 125, 100, 20});
    makeLabel(area, "Container ID", {0, 100, 100, 20});
    txtVID_FwFlash = makeEntryField(area, {29, 220, 44, 20});
    txtSSPID_FwFlash = makeEntryField(area, {143, 220, 44, 20});
    txtHSPID_FwFlash = makeEntryField(area, {243, 220, 44, 20});
    txtVer_FwFlash = makeDisplayField(area, {273, 197, 44, 20});
    txtManu_FwFlash = makeEntryField(area, {103, 175, 200, 20});
    txtPro_FwFlash = makeEntryField(area, {103, 150, 200, 20});
    txtSN_FwFlash = makeEntryField(area, {103, 125, 200, 20});
    txtContainerID_FwFlash = makeEntryField(area, {0, 80, 303, 20});
    btnRead_FwFlash = makeButton(area, texts::kReadFromFlash, {10, 50, 130, 20});
    btnLoad_FwFlash = makeButton(area, texts::kLoadFromBin, {10, 25, 130, 20});
    btnErase_FwFlash = makeButton(area, texts::kEraseFlash, {10, 0, 130, 20});
    btnSave_FwFlash = makeButton(area, texts::kSaveToBin, {200, 37.5, 120, 20});
    connect(btnRead_FwFlash, &QPushButton::clicked, this, &AppDelegate::read_FwFlash);
    connect(btnLoad_FwFlash, &QPushButton::clicked, this, &AppDelegate::load_FwFlash);
    connect(btnErase_FwFlash, &QPushButton::clicked, this, &AppDelegate::erase_FwFlash);
    connect(btnSave_FwFlash, &QPushButton::clicked, this, &AppDelegate::save_FwFlash);
    connectIdentityFields();
}

void AppDelegate::buildDetailBox() {
    QWidget* area = contentOf(detailBox);
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

    tbViewController = new TableViewController(session_.console(), session_.buffers().flashPage, this);
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

void AppDelegate::connectPropertyTable() {
    // A selected row shows its address, description and options; a cleared
    // selection (a new page, a reload) leaves the text as it is.
    connect(tableView_Detail->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!current.isValid()) return;
                txtViewDesc_Detail->setPlainText(QString::fromStdString(
                    tbViewController->model().descriptionText(static_cast<std::size_t>(current.row()))));
            });
    connect(tableView_Detail, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == kCurValueColumnIndex) tableView_Detail->edit(index);
    });
    tbViewController->onOptionChosen = [this](const editor::OptionResult& result) {
        optionChosen_Detail(result);
    };
}

void AppDelegate::fillDefinitionList() {
    definitionChoices_ =
        editor::listDefinitionChoices(session_.paths().resourcePath, session_.paths().userDataPath);
    for (const editor::DefinitionChoice& choice : definitionChoices_) {
        session_.console().line(choice.relativePath);
        cbICType->addItem(QString::fromStdString(choice.relativePath));
    }
    if (!definitionChoices_.empty()) cbICType->setCurrentIndex(0);
}

void AppDelegate::connectComboBoxes() {
    // Only now that the first items are selected: building reports no change.
    connect(cbPages, &QComboBox::currentIndexChanged, this, &AppDelegate::PageNameCombBox_SelectedChanged);
    connect(cbICType, &QComboBox::currentIndexChanged, this, &AppDelegate::ICTypeCombBox_SelectedChanged);
}

}  // namespace velmora::window
