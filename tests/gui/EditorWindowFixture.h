#pragma once
// The window with the sample image loaded into its flash page, and the steps of a
// person editing it: picking a page or chip, choosing from a value's pop-up list,
// typing into an identity field. Each step lets the window finish what the step
// started (queued alerts included) before the test looks.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextBlock>
#include <QTextEdit>

#include "WindowFixture.h"
#include "firmware/FirmwareBuffer.h"

#include <ostream>

namespace velmora::testing {

inline constexpr std::size_t kSampleBlock = 0x7F00;  // the sample image's configuration block

class EditorWindowFixture : public WindowFixture {
protected:
    // Launches, shows the window (clicks need a laid-out table) and loads the sample.
    // Tests that only type and set values leave it hidden: painting it runs Qt's
    // own image threads, which ThreadSanitizer cannot follow (scripts/dev tsan).
    enum class Shown { Yes, No };
    void launchWithSample(Shown shown = Shown::Yes) {
        launch();
        if (shown == Shown::Yes) {
            window().show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        }
        dialogs_.openAnswers.push_back(QString::fromStdString(sampleImagePath()));
        window().flashBox().btnLoad_FwFlash->click();
        settle();
        ASSERT_TRUE(flashPage().loaded);
    }

    FirmwareBuffer& flashPage() { return window().session().buffers().flashPage; }
    std::uint8_t blockByte(std::size_t offset) { return flashPage().data[*flashPage().block + offset]; }
    std::vector<std::uint8_t> blockBytes(std::size_t from, std::size_t to) {
        const auto begin = flashPage().data.begin() + static_cast<std::ptrdiff_t>(*flashPage().block + from);
        return {begin, begin + static_cast<std::ptrdiff_t>(to - from)};
    }

    // Delivers what the last step queued: alerts, redraws, deferred deletions.
    static void settle() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void selectPage(const QString& page) {
        window().detailBox().cbPages->setCurrentIndex(window().detailBox().cbPages->findText(page));
        settle();
    }
    QAbstractItemModel& table() { return *window().detailBox().tableView_Detail->model(); }
    QString cell(int row, int column) { return table().index(row, column).data().toString(); }
    QStringList column(int which) {
        QStringList texts;
        for (int row = 0; row < table().rowCount(); ++row) texts << cell(row, which);
        return texts;
    }
    int rowOf(const QString& property) { return static_cast<int>(column(0).indexOf(property)); }

    // Clicks a value cell; returns its pop-up list, open over the cell.
    QComboBox* openPopUp(int row) {
        QTableView* view = window().detailBox().tableView_Detail;
        const QModelIndex index = table().index(row, 1);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        return view->viewport()->findChild<QComboBox*>("popUpCell");
    }
    // Picks an entry of the row's pop-up list as the user would.
    void choose(int row, int position) {
        QComboBox* popUp = openPopUp(row);
        ASSERT_NE(popUp, nullptr);
        popUp->setCurrentIndex(position);
        emit popUp->activated(position);
        settle();
    }

    // The binary view's text painted red.
    QString redText() {
        QString red;
        for (QTextBlock block = window().detailBox().txtViewBin_Detail->document()->begin(); block.isValid();
             block = block.next()) {
            for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
                if (fragment.fragment().charFormat().foreground().color() == QColor(Qt::red)) {
                    red += fragment.fragment().text();
                }
            }
        }
        return red;
    }

    // Keystrokes into a field, each one handled before the next.
    void type(QLineEdit* field, const QString& keys) {
        field->setFocus();
        for (const QChar key : keys) {
            QTest::keyClicks(field, QString(key));
            settle();
        }
    }
    void pressBackspace(QLineEdit* field, int times = 1) {
        field->setFocus();
        for (int press = 0; press < times; ++press) {
            QTest::keyClick(field, Qt::Key_Backspace);
            settle();
        }
    }
    void moveCursorToEnd(QLineEdit* field) {
        field->setCursorPosition(static_cast<int>(field->text().size()));
    }
};

}  // namespace velmora::testing

// Field and cell texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
