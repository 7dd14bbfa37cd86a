#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"

#include "support/run_time_errors.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

using test_support::errorNumberOf;
using namespace tavrolin;

namespace {

// A list laid out as the control's lists are: three columns, report view.
struct Fixture {
    ListView list;
    Fixture() {
        list.resize(265, 185);
        list.addColumnHeader("ID", 795);
        list.addColumnHeader("Name", 3180);
        list.addColumnHeader("ID", 0);
        list.show();
    }
    ListItem addRow(const QString& id, const QString& name, const QString& marker) {
        ListItem row = list.add(id);
        row.setSubItem(1, name);
        row.setSubItem(2, marker);
        return row;
    }
    QStringList texts(int column = 0) {
        QStringList out;
        for (int p = 1; p <= list.count(); ++p)
            out << (column == 0 ? list.item(p).text() : list.item(p).subItem(column));
        return out;
    }
    QList<int> highlighted() {
        QList<int> out;
        for (int p = 1; p <= list.count(); ++p)
            if (list.item(p).selected()) out << p;
        return out;
    }
    void click(int position, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                          list.rowRect(position).center());
    }
};

}  // namespace

TEST(ListView, RowsStandInSortOrderFromTheFirstAdd) {
    Fixture f;
    f.list.setSortKey(0);
    f.list.add("20");
    f.list.add("05");
    f.list.add("17");
    EXPECT_EQ(f.texts(), (QStringList{"05", "17", "20"}));
    f.list.setSortOrder(Qt::DescendingOrder);
    EXPECT_EQ(f.texts(), (QStringList{"20", "17", "05"}));
}

TEST(ListView, SortsByMarkerAndNameInBothOrders) {
    Fixture f;
    f.list.setSortKey(2);
    f.addRow("123", "acme", "000123");
    f.addRow("5", "Zeta", "000005");
    f.addRow("77", "beta", "000077N");
    f.addRow("76", "Alpha", "000076");
    EXPECT_EQ(f.texts(), (QStringList{"5", "76", "77", "123"}));
    f.list.setSortKey(1);
    EXPECT_EQ(f.texts(), (QStringList{"123", "76", "77", "5"}));  // case-insensitive names
    f.list.setSortOrder(Qt::DescendingOrder);
    EXPECT_EQ(f.texts(), (QStringList{"5", "77", "76", "123"}));
    f.list.setSortKey(2);
    EXPECT_EQ(f.texts(), (QStringList{"123", "77", "76", "5"}));
}

TEST(ListView, ChangingTheKeyOfAPlacedRowMovesIt) {
    Fixture f;
    f.list.setSortKey(2);
    ListItem a = f.addRow("1", "a", "000001");
    f.addRow("2", "b", "000002");
    EXPECT_EQ(f.texts(), (QStringList{"1", "2"}));
    a.setSubItem(2, "000003");
    EXPECT_EQ(f.texts(), (QStringList{"2", "1"}));
    EXPECT_EQ(a.position(), 2);
}

TEST(ListView, RemoveShiftsLaterRowsUp) {
    Fixture f;
    for (QString id : {"1", "2", "3", "4", "5"}) f.list.add(id);
    f.list.remove(2);
    EXPECT_EQ(f.texts(), (QStringList{"1", "3", "4", "5"}));
    f.list.remove(4);
    f.list.remove(1);
    EXPECT_EQ(f.texts(), (QStringList{"3", "4"}));
    EXPECT_EQ(f.list.count(), 2);
    EXPECT_EQ(errorNumberOf([&] { f.list.remove(3); }), errors::IndexOutOfBounds);
    EXPECT_EQ(errorNumberOf([&] { f.list.item(0); }), errors::IndexOutOfBounds);
}

TEST(ListView, RemovalWalkedDownwardsInterleavedWithAdds) {
    Fixture f;
    for (int i = 1; i <= 9; ++i) f.list.add(QString::number(i));
    for (int p = f.list.count(); p >= 1; --p)
        if (f.list.item(p).text().toInt() % 2 == 0) f.list.remove(p);
    f.list.add("0");
    f.list.remove(f.list.count());  // "9"
    EXPECT_EQ(f.texts(), (QStringList{"0", "1", "3", "5", "7"}));
}

TEST(ListView, FirstRowOfAnEmptyListIsCurrentAndHighlighted) {
    Fixture f;
    EXPECT_TRUE(f.list.selectedItem().isNull());
    EXPECT_EQ(errorNumberOf([&] { f.list.selectedItem().text(); }), errors::ObjectNotSet);
    ListItem first = f.list.add("5");
    f.list.add("7");
    EXPECT_EQ(f.list.selectedItem(), first);
    EXPECT_EQ(f.highlighted(), (QList<int>{1}));
    f.list.selectedItem().setSelected(false);
    EXPECT_TRUE(f.highlighted().isEmpty());
    EXPECT_EQ(f.list.selectedItem(), first);  // still current
    f.list.clear();
    EXPECT_TRUE(f.list.selectedItem().isNull());
    EXPECT_EQ(f.list.count(), 0);
}

TEST(ListView, SingleRowModeClearsOtherHighlightsAndModeSwitchKeepsThem) {
    Fixture f;
    for (QString id : {"1", "2", "3", "4"}) f.list.add(id);
    f.list.setMultiSelect(true);
    f.list.item(2).setSelected(true);
    f.list.item(3).setSelected(true);
    EXPECT_EQ(f.highlighted(), (QList<int>{1, 2, 3}));
    f.list.setMultiSelect(false);
    EXPECT_EQ(f.highlighted(), (QList<int>{1, 2, 3}));
    f.list.item(4).setSelected(true);
    EXPECT_EQ(f.highlighted(), (QList<int>{4}));
    EXPECT_EQ(f.list.selectedItem().text(), "4");
    EXPECT_EQ(f.list.highlightedCount(), 1);
}

TEST(ListView, FindItemMatchesWholeTextFromTheTop) {
    Fixture f;
    f.list.setSortKey(2);
    f.addRow("123", "a", "000123");
    f.addRow("000123", "b", "000123");
    f.addRow("12", "c", "000012");
    EXPECT_EQ(f.list.findItem("123").subItem(1), "a");
    EXPECT_EQ(f.list.findItem("000123").subItem(1), "b");
    EXPECT_EQ(f.list.findItem("12").subItem(1), "c");
    EXPECT_TRUE(f.list.findItem("1234").isNull());
    EXPECT_TRUE(f.list.findItem("").isNull());
    f.addRow("12", "d", "000012N");
    EXPECT_EQ(f.list.findItem("12").subItem(1), "c");
}

TEST(ListView, ClicksHighlightLikeAUserExpects) {
    Fixture f;
    for (QString id : {"1", "2", "3", "4", "5"}) f.list.add(id);
    QSignalSpy clicks(&f.list, &ListView::click);
    f.click(2);
    EXPECT_EQ(f.highlighted(), (QList<int>{2}));
    EXPECT_EQ(f.list.selectedItem().text(), "2");
    EXPECT_EQ(clicks.count(), 1);
    // Ctrl adds to the highlight only in several-row mode.
    f.click(4, Qt::ControlModifier);
    EXPECT_EQ(f.highlighted(), (QList<int>{4}));
    f.list.setMultiSelect(true);
    f.click(2, Qt::ControlModifier);
    f.click(5, Qt::ControlModifier);
    EXPECT_EQ(f.highlighted(), (QList<int>{2, 4, 5}));
    f.click(4, Qt::ControlModifier);
    EXPECT_EQ(f.highlighted(), (QList<int>{2, 5}));
    f.click(1);
    f.click(3, Qt::ShiftModifier);
    EXPECT_EQ(f.highlighted(), (QList<int>{1, 2, 3}));
    // The empty area below the rows: a click that highlights nothing, current row kept.
    QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, QPoint(20, 170));
    EXPECT_TRUE(f.highlighted().isEmpty());
    EXPECT_EQ(f.list.selectedItem().text(), "3");
    EXPECT_EQ(clicks.count(), 8);
}

TEST(ListView, ReportsDoubleClicksHeaderClicksAndMouseUp) {
    Fixture f;
    f.list.add("1");
    QSignalSpy dbl(&f.list, &ListView::dblClick);
    QSignalSpy header(&f.list, &ListView::columnClick);
    QSignalSpy up(&f.list, &ListView::mouseUp);
    QTest::mouseDClick(f.list.viewport(), Qt::LeftButton, {}, f.list.rowRect(1).center());
    EXPECT_EQ(dbl.count(), 1);
    QTest::mouseClick(f.list.viewport(), Qt::RightButton, Qt::ShiftModifier,
                      f.list.rowRect(1).center());
    ASSERT_FALSE(up.isEmpty());
    EXPECT_EQ(up.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(up.last().at(1).value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
    EXPECT_EQ(up.last().at(2).toPoint(),
              f.list.viewport()->mapTo(&f.list, f.list.rowRect(1).center()));
    QHeaderView* h = f.list.header();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(1) + 10, h->height() / 2));
    ASSERT_EQ(header.count(), 1);
    EXPECT_EQ(header.first().at(0).toInt(), 2);
}

// Only the rows on screen are refreshed at a sync; a highlight set far down a long list must
// still show once the list is scrolled there.
TEST(ListView, HighlightShowsOnScreenWhereverTheListIsScrolled) {
    Fixture f;
    for (int i = 1; i <= 500; ++i) f.addRow(QString::number(i), "name", "");
    f.list.item(1).setSelected(false);
    auto shown = [&f](int position) {
        f.list.syncView();
        QCoreApplication::processEvents();
        const QImage image = f.list.viewport()->grab().toImage();
        return image.pixelColor(QPoint(10, f.list.rowRect(position).center().y())) ==
               f.list.palette().color(QPalette::Highlight);
    };
    EXPECT_FALSE(shown(2));
    f.list.item(2).setSelected(true);
    EXPECT_TRUE(shown(2));
    f.list.item(500).ensureVisible();
    EXPECT_FALSE(shown(500));
    f.list.item(500).setSelected(true);
    EXPECT_TRUE(shown(500));
    f.list.item(2).setSelected(false);
    f.list.item(2).ensureVisible();
    EXPECT_FALSE(shown(2));
}

TEST(ListView, ColumnHeadersKeepTheirWidthsInTwips) {
    Fixture f;
    EXPECT_EQ(f.list.columnHeaderCount(), 3);
    EXPECT_EQ(f.list.columnHeaderWidth(1), 795);
    EXPECT_EQ(f.list.columnHeaderWidth(2), 3180);
    EXPECT_EQ(f.list.columnHeaderWidth(3), 0);
    EXPECT_EQ(f.list.columnHeaderText(3), "ID");
    for (int i = 0; i < 50; ++i) f.list.add(QString::number(i));
    f.list.syncView();
    EXPECT_EQ(f.list.columnHeaderWidth(2), 3180);
    EXPECT_EQ(f.list.widthTwips(), 3975);
}

TEST(ProgressBar, RefusesValuesBeyondItsScale) {
    ProgressBar bar;
    bar.setMax(5);
    bar.setValue(5);
    EXPECT_EQ(bar.value(), 5);
    EXPECT_EQ(errorNumberOf([&] { bar.setValue(6); }), errors::InvalidPropertyValue);
    EXPECT_EQ(errorNumberOf([&] { bar.setMax(-1); }), errors::InvalidPropertyValue);
    bar.setMax(0);
    EXPECT_EQ(bar.value(), 0);
    bar.setValue(0);
}

TEST(ProgressBar, ShowsEveryWriteThatMovesTheBarAndBothEnds) {
    ProgressBar bar;
    bar.resize(258, 17);
    QSignalSpy writes(&bar, &ProgressBar::valueWritten);
    bar.setMax(32767);
    for (int v = 0; v <= 32767; ++v) bar.setValue(v);
    EXPECT_EQ(writes.count(), 32768);
    EXPECT_EQ(bar.value(), 32767);
    EXPECT_EQ(bar.QProgressBar::value(), 32767);
    bar.setValue(100);
    EXPECT_EQ(bar.QProgressBar::value(), 100);  // a jump of many pixels shows at once
    bar.setValue(0);
    EXPECT_EQ(bar.QProgressBar::value(), 0);
}
