#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"

#include "support/run_time_errors.h"
#include "support/selection_in_step.h"

#include <gtest/gtest.h>
#include <tavrolin/run_time_error.h>

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

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
    // As the control adds rows: in a batch, after which the view's layout is up to date too.
    ListItem addRow(const QString& id, const QString& name, const QString& marker) {
        const ListView::Batch batch(list);
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
    QList<int> highlighted() { return test_support::listHighlight(&list); }
    void click(int position, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                          list.rowRect(position).center());
    }
    QModelIndex index(int position, int column = 0) {
        return list.model()->index(position - 1, column);
    }
    QList<int> selectedRows() { return test_support::selectionModelRows(&list); }
    int currentRow() { return test_support::modelCurrentRow(&list); }
    // The list's highlight, and the same in the selection model and the accessible table.
    void expectInStep(const QList<int>& rows) {
        EXPECT_EQ(highlighted(), rows);
        test_support::expectInStep(&list);
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

TEST(ListView, RemoveShiftsLaterRowsUpAlsoWalkedDownwardsAmongAdds) {
    Fixture f;
    for (int i = 1; i <= 9; ++i) f.list.add(QString::number(i));
    for (int p = f.list.count(); p >= 1; --p)
        if (f.list.item(p).text().toInt() % 2 == 0) f.list.remove(p);
    f.list.add("0");
    f.list.remove(f.list.count());  // "9"
    EXPECT_EQ(f.texts(), (QStringList{"0", "1", "3", "5", "7"}));
    f.list.remove(2);
    EXPECT_EQ(f.texts(), (QStringList{"0", "3", "5", "7"}));
    f.list.remove(4);
    f.list.remove(1);
    EXPECT_EQ(f.texts(), (QStringList{"3", "5"}));
    EXPECT_EQ(errorNumberOf([&] { f.list.remove(3); }), errors::IndexOutOfBounds);
    EXPECT_EQ(errorNumberOf([&] { f.list.item(0); }), errors::IndexOutOfBounds);
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
        QCoreApplication::processEvents();
        const QImage image = f.list.viewport()->grab().toImage();
        // The style paints a selection in the highlight colour, shaded by a step or two.
        const QColor seen = image.pixelColor(QPoint(10, f.list.rowRect(position).center().y()));
        const QColor highlight = f.list.palette().color(QPalette::Highlight);
        return std::abs(seen.red() - highlight.red()) + std::abs(seen.green() - highlight.green()) +
                   std::abs(seen.blue() - highlight.blue()) <=
               8;
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

TEST(ListViewSelection, SelectionModelHoldsTheHighlightInOneRangePerRun) {
    Fixture f;
    for (int i = 1; i <= 10; ++i) f.addRow(QString::number(i), "name", "");
    f.list.setMultiSelect(true);
    f.list.item(1).setSelected(false);
    for (int p : {2, 3, 4, 7}) f.list.item(p).setSelected(true);
    f.expectInStep({2, 3, 4, 7});
    EXPECT_EQ(f.currentRow(), 7);
    // Rows top to bottom, whole rows of the two columns shown.
    QStringList ranges;
    for (const QItemSelectionRange& r : f.list.selectionModel()->selection())
        ranges << QString("%1-%2 %3-%4").arg(r.top()).arg(r.bottom()).arg(r.left()).arg(r.right());
    EXPECT_EQ(ranges, (QStringList{"1-3 0-1", "6-6 0-1"}));
    EXPECT_TRUE(f.list.model()->flags(f.index(1)) & Qt::ItemIsSelectable);
    // The highlight is the style's selection, not a colour in the rows.
    EXPECT_FALSE(f.list.model()->data(f.index(2), Qt::BackgroundRole).isValid());
}

TEST(ListViewSelection, ClicksAndKeysKeepTheSelectionModelInStep) {
    Fixture f;
    for (int i = 1; i <= 8; ++i) f.addRow(QString::number(i), "name", "");
    QSignalSpy clicks(&f.list, &ListView::click);
    f.list.setMultiSelect(true);
    f.expectInStep({1});
    f.click(3);
    EXPECT_EQ(clicks.count(), 1);
    f.expectInStep({3});
    f.click(5, Qt::ControlModifier);
    f.expectInStep({3, 5});
    f.click(3, Qt::ControlModifier);
    f.expectInStep({5});
    EXPECT_EQ(f.currentRow(), 3);  // a Ctrl-click that takes the highlight leaves the row current
    f.click(7, Qt::ShiftModifier);
    f.expectInStep({3, 4, 5, 6, 7});
    QTest::keyClick(&f.list, Qt::Key_Down);
    f.expectInStep({8});
    QTest::keyClick(&f.list, Qt::Key_Up, Qt::ShiftModifier);
    f.expectInStep({7, 8});
    QTest::keyClick(&f.list, Qt::Key_A, Qt::ControlModifier);
    f.expectInStep({1, 2, 3, 4, 5, 6, 7, 8});
    // A right-button press on a highlighted row only makes it current.
    QTest::mouseClick(f.list.viewport(), Qt::RightButton, {}, f.list.rowRect(2).center());
    f.expectInStep({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(f.currentRow(), 2);
    // The empty area below the rows: a click that highlights nothing, current row kept.
    QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {},
                      QPoint(5, f.list.viewport()->height() - 3));
    f.expectInStep({});
    EXPECT_EQ(f.list.selectedItem().position(), 2);
    f.list.setMultiSelect(false);
    f.click(2);
    f.click(4, Qt::ControlModifier);  // single-row mode: Ctrl does not add
    f.expectInStep({4});
    EXPECT_EQ(clicks.count(), 7);  // left clicks only, the empty area's included
}

TEST(ListViewSelection, SortsRemovalsAndAddsKeepTheSelectionModelInStep) {
    Fixture f;
    f.list.setSortKey(2);
    for (int i = 1; i <= 6; ++i)
        f.addRow(QString::number(i), QString(QChar(u'a' + 6 - i)), QString::number(i));
    f.list.setMultiSelect(true);
    f.list.item(1).setSelected(false);
    f.list.item(2).setSelected(true);
    f.list.item(3).setSelected(true);
    f.expectInStep({2, 3});
    f.list.setSortKey(1);  // names run backwards: rows 2 and 3 stand at 5 and 4
    f.expectInStep({4, 5});
    EXPECT_EQ(f.currentRow(), 4);
    f.list.remove(1);
    f.expectInStep({3, 4});
    f.addRow("0", "zz", "0");
    f.expectInStep({3, 4});
    f.list.remove(f.list.selectedItem().position());  // "3": "2" moves up into its place
    f.expectInStep({3});
    EXPECT_EQ(f.currentRow(), 0);
    f.list.clear();
    f.expectInStep({});
}

TEST(ListViewSelection, ScatteredHighlightStaysInStepThroughReSortsAndRemovals) {
    Fixture f;
    f.list.setSortKey(0);
    for (int i = 1; i <= 400; ++i)
        f.addRow(QStringLiteral("%1").arg(i, 3, 10, QChar(u'0')), QString::number(401 - i), "");
    f.list.setMultiSelect(true);
    QList<int> odd;
    for (int p = 1; p <= 400; p += 2) {
        f.list.item(p).setSelected(true);
        odd << p;
    }
    f.expectInStep(odd);
    EXPECT_EQ(f.list.selectionModel()->selection().size(), 200);
    f.list.setSortOrder(Qt::DescendingOrder);  // every highlighted row moves: the old ranges all go
    QList<int> even;
    for (int p = 2; p <= 400; p += 2) even << p;
    f.expectInStep(even);
    f.list.remove(1);  // every range moves up by one
    QList<int> shifted;
    for (int p = 1; p < 400; p += 2) shifted << p;
    f.expectInStep(shifted);
}

TEST(ListViewSelection, ChangeThroughTheSelectionModelIsAHighlightWithoutAClick) {
    Fixture f;
    for (int i = 1; i <= 6; ++i) f.addRow(QString::number(i), "name", "");
    QSignalSpy clicks(&f.list, &ListView::click);
    QSignalSpy without(&f.list, &ListView::highlightChangedWithoutClick);
    f.list.setMultiSelect(true);
    QItemSelectionModel* model = f.list.selectionModel();
    model->select(f.index(3), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(f.highlighted(), (QList<int>{1, 3}));
    EXPECT_EQ(f.list.selectedItem().position(), 3);
    model->select(f.index(1), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    model->setCurrentIndex(f.index(5), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(f.highlighted(), (QList<int>{3}));
    EXPECT_EQ(f.list.selectedItem().position(), 5);
    f.expectInStep({3});

    // One cell selected stands for its row; the list hands back the whole row.
    model->select(f.index(6, 1), QItemSelectionModel::Select);
    f.expectInStep({3, 6});
    EXPECT_EQ(f.list.selectionModel()->selection().size(), 2);

    // In single-row mode, selecting a row takes the highlight from the others.
    f.list.setMultiSelect(false);
    model->select(f.index(2), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.expectInStep({2});
    EXPECT_EQ(f.list.selectedItem().position(), 2);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(without.count(), 4);
    // The list's own changes are not reported as someone else's.
    f.list.item(4).setSelected(true);
    f.list.setSortOrder(Qt::DescendingOrder);
    f.list.remove(1);
    EXPECT_EQ(without.count(), 4);
}

TEST(ListViewModel, PersistentIndexesStayOnTheirRowsThroughSortsAndRemovals) {
    Fixture f;
    f.list.setSortKey(0);
    for (int i = 10; i < 70; ++i) f.addRow(QString::number(i), QString::number(100 - i), "");
    QSignalSpy layouts(f.list.model(), &QAbstractItemModel::layoutChanged);
    QSignalSpy removals(f.list.model(), &QAbstractItemModel::rowsRemoved);
    const QPersistentModelIndex kept(f.index(5)), gone(f.index(6));  // "14", "15"
    f.list.setSortKey(1);  // names run backwards
    EXPECT_EQ(layouts.count(), 1);
    EXPECT_EQ(kept.data().toString(), "14");
    EXPECT_EQ(kept.row(), 55);
    f.list.remove(60);
    f.list.remove(1);
    EXPECT_EQ(removals.count(), 2);
    EXPECT_EQ(kept.row(), 54);
    {
        // Many scattered removals go as one layout change.
        const ListView::Batch batch(f.list);
        for (int p = f.list.count(); p >= 1; --p)
            if (f.list.item(p).text().toInt() % 2 == 1) f.list.remove(p);
        EXPECT_EQ(f.list.model()->rowCount(), 58);  // the model waits for the batch
    }
    EXPECT_EQ(f.list.model()->rowCount(), 29);
    EXPECT_EQ(f.list.count(), 29);
    EXPECT_EQ(kept.data().toString(), "14");
    EXPECT_EQ(f.list.item(kept.row() + 1).text(), "14");
    EXPECT_FALSE(gone.isValid());
    EXPECT_EQ(layouts.count(), 2);
    // Assistive technology sees the ID and the name, not the marker.
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&f.list);
    ASSERT_TRUE(face && face->tableInterface());
    EXPECT_EQ(face->tableInterface()->columnCount(), 2);
}

TEST(ListViewSelection, AssistiveTechnologySelectsRowsByTheListsMode) {
    Fixture f;
    for (int i = 1; i <= 5; ++i) f.addRow(QString::number(i), "name", "");
    QSignalSpy clicks(&f.list, &ListView::click);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&f.list);
    ASSERT_TRUE(face && face->tableInterface());
    QAccessibleTableInterface* table = face->tableInterface();
    EXPECT_TRUE(table->selectRow(3));
    f.expectInStep({4});
    EXPECT_EQ(f.list.selectedItem().position(), 4);
    f.list.setMultiSelect(true);
    EXPECT_TRUE(table->selectRow(1));
    f.expectInStep({2, 4});
    EXPECT_TRUE(table->unselectRow(3));
    f.expectInStep({2});
    EXPECT_EQ(clicks.count(), 0);
}

TEST(ListViewSelection, FocusArrivingLeavesTheCurrentRowAsItWas) {
    Fixture f;
    for (int i = 1; i <= 3; ++i) f.list.add(QString::number(i));
    f.list.remove(1);  // the current row leaves: no row is current
    ASSERT_TRUE(f.list.selectedItem().isNull());
    f.list.activateWindow();
    f.list.setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.list.selectedItem().isNull());
    EXPECT_EQ(f.currentRow(), 0);
}

TEST(ListViewSortKeys, LetterCaseIsIgnoredAsQtComparesWithoutCase) {
    Fixture f;
    const QStringList names = {"beta",  "Alpha", "ÄPFEL", "zeta", "äpfel",  "Éclair",
                               "alpha", "Ωmega", "ωmega", "BETA", "eclair", "Zeta"};
    f.list.setSortKey(1);
    for (int i = 0; i < names.size(); ++i) f.addRow(QString::number(i), names[i], "");
    QStringList expected = names;
    std::stable_sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    EXPECT_EQ(f.texts(1), expected);
    f.list.setSortOrder(Qt::DescendingOrder);
    std::stable_sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) > 0;
    });
    EXPECT_EQ(f.texts(1), expected);
}

TEST(ListViewSortKeys, SearchIgnoresLetterCaseAndFollowsChangedTexts) {
    Fixture f;
    f.list.setSortKey(0);
    f.addRow("1", "Zeta Corp", "");
    ListItem acme = f.addRow("2", "ACME Äpfel", "");
    EXPECT_EQ(f.list.findContaining(1, "acme äpfel"), acme);
    EXPECT_EQ(f.list.findContaining(1, "CORP").text(), "1");
    EXPECT_EQ(f.list.findContaining(1, "").text(), "1");
    EXPECT_TRUE(f.list.findContaining(1, "tools").isNull());
    acme.setSubItem(1, "Acme Tools");
    EXPECT_EQ(f.list.findContaining(1, "TOOLS"), acme);
    EXPECT_TRUE(f.list.findContaining(1, "äpfel").isNull());
    EXPECT_EQ(errorNumberOf([&] { f.list.findContaining(3, "x"); }), errors::IndexOutOfBounds);
}

TEST(ListViewRowNote, NotedRowsShowItalicWithTheNoteAsTooltip) {
    Fixture f;
    f.list.setSortKey(0);
    f.addRow("1", "plain", "000001");
    f.addRow("2", "noted", "000002N");
    f.list.setRowNote([](const ListItem& row) {
        return row.subItem(2).endsWith(u'N') ? QStringLiteral("pending") : QString();
    });
    const QAbstractItemModel* model = f.list.model();
    for (int column : {0, 1}) {
        EXPECT_FALSE(model->data(f.index(1, column), Qt::FontRole).isValid());
        EXPECT_FALSE(model->data(f.index(1, column), Qt::ToolTipRole).isValid());
        EXPECT_TRUE(model->data(f.index(2, column), Qt::FontRole).value<QFont>().italic());
        EXPECT_EQ(model->data(f.index(2, column), Qt::ToolTipRole).toString(), "pending");
        EXPECT_EQ(model->data(f.index(2, column), Qt::AccessibleDescriptionRole).toString(),
                  "pending");
    }
    // Texts, columns and widths stay as they were.
    EXPECT_EQ(model->data(f.index(2, 0)).toString(), "2");
    EXPECT_FALSE(model->data(f.index(2, 2)).isValid());  // the marker is not shown
    EXPECT_EQ(f.list.columnHeaderWidth(1), 795);
    f.list.item(2).setSubItem(2, "000002");
    EXPECT_FALSE(model->data(f.index(2, 0), Qt::FontRole).isValid());
}
