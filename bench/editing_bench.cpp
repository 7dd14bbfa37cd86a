// Costs of the list editing and the find center on a control whose list holds 32,766 rows,
// driven through the real control's child widgets with mouse events. Every measurement ends
// after the event-loop turn that repaints the control, and each one checks that the selection
// model then holds exactly the highlighted rows.
#include "bench_util.h"
#include "control/list_view/list_view.h"
#include "find/vendor_search.h"
#include "lists/markers.h"

#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

using namespace tavrolin;

namespace {

constexpr int kRows = 32766;
constexpr int kMoved = 16001;  // every other row: 16,001 separate ranges
constexpr int kRuns = 5;

struct Source {
    QString id, name;
};

std::vector<Source> makeRows(int count, int seed) {
    std::vector<Source> rows;
    QRandomGenerator rng(seed);
    for (int i = 0; i < count; ++i)
        rows.push_back({QString::number(rng.bounded(1, 999999)),
                        QStringLiteral("Vendor %1 %2").arg(rng.bounded(100000)).arg(i)});
    return rows;
}

// Fills a list the way the load does: rows with plain markers, sorted by marker, no highlight.
void fill(ListView& list, const std::vector<Source>& rows) {
    list.clear();
    const ListView::Batch batch(list);
    for (const Source& s : rows) {
        ListItem row = list.add(s.id);
        row.setSubItem(1, s.name);
        row.setSubItem(2, markers::plainForm(s.id));
    }
    list.setSortKey(2);
    if (list.count() > 0) list.selectedItem().setSelected(false);
    list.setMultiSelect(false);
}

// The selection model holds exactly the highlighted rows, the current row is its current index.
void checkInStep(ListView* list, const char* measurement) {
    int selectedRows = 0;
    for (const QItemSelectionRange& range : list->selectionModel()->selection())
        selectedRows += range.height();
    const QModelIndex current = list->selectionModel()->currentIndex();
    const ListItem item = list->selectedItem();
    const bool currentInStep =
        item.isNull() ? !current.isValid() : current.row() + 1 == item.position();
    if (selectedRows != list->highlightedCount() || !currentInStep) {
        std::fprintf(stderr, "%s: %s selection model out of step (%d selected, %d highlighted)\n",
                     measurement, qPrintable(list->objectName()), selectedRows,
                     list->highlightedCount());
        std::exit(1);
    }
}

struct Bench {
    Tavrolin control;
    ListView* vendors = control.findChild<ListView*>("lstVendors");
    ListView* selected = control.findChild<ListView*>("lstSelectedVendors");
    std::vector<Source> big = makeRows(kRows, 7);
    std::vector<Source> few = makeRows(20, 11);

    Bench() { control.show(); }
    // Both lists filled and every find option offered, as after a load.
    void reset() {
        fill(*vendors, big);
        fill(*selected, few);
        for (const char* name : {"optList_0", "optList_1", "optFind_0", "optFind_1"})
            control.findChild<QRadioButton*>(name)->setEnabled(true);
        settle();
    }
    void settle() {
        QCoreApplication::processEvents();
        control.repaint();
    }
    void checkInStep(const char* measurement) {
        ::checkInStep(vendors, measurement);
        ::checkInStep(selected, measurement);
    }
    void clickRow(ListView* list, int position, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->rowRect(position).center());
    }
    void clickButton(const char* name) {
        QTest::mouseClick(control.findChild<QPushButton*>(name), Qt::LeftButton);
    }
    void clickHeader(ListView* list, int index) {
        QHeaderView* h = list->header();
        const int x = h->sectionViewportPosition(index - 1) + h->sectionSize(index - 1) / 2;
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
    }
    // Highlights every step-th row from the top, as many as asked, without clicks.
    void highlight(ListView* list, int count, int step = 2) {
        list->setMultiSelect(true);
        const ListView::Batch batch(*list);
        for (int p = 1; p <= list->count() && count > 0; p += step, --count)
            list->item(p).setSelected(true);
    }
};

void benchClicks(Bench& b) {
    // Floor: the same click on a list of 20 rows.
    const double floorMs = bench::medianMs(
        kRuns,
        [&] {
            fill(*b.vendors, b.few);
            fill(*b.selected, b.few);
            b.settle();
            b.clickRow(b.vendors, 1);
        },
        [&] {
            b.clickRow(b.vendors, 2, Qt::ControlModifier);
            b.settle();
        });
    const double twoMs = bench::medianMs(
        kRuns,
        [&] {
            b.reset();
            b.clickRow(b.vendors, 1);
        },
        [&] {
            b.clickRow(b.vendors, 2, Qt::ControlModifier);
            b.settle();
        });
    b.checkInStep("ctrl-click");
    bench::report("click in lstVendors, 2 rows highlighted", kRows, twoMs, floorMs);

    const double walkMs = bench::medianMs(
        kRuns, [&] { b.reset(); },
        [&] {
            b.clickRow(b.vendors, 1);  // one highlighted: the counting walk visits every row
            b.settle();
        });
    b.checkInStep("click");
    bench::report("click in lstVendors, 1 row highlighted", kRows, walkMs, floorMs);

    const double scatteredMs = bench::medianMs(
        kRuns,
        [&] {
            b.reset();
            b.highlight(b.vendors, kMoved);
            b.settle();
        },
        [&] {
            b.clickRow(b.vendors, 2, Qt::ControlModifier);  // 16,001 ranges become one
            b.settle();
        });
    b.checkInStep("ctrl-click joining ranges");
    bench::report("ctrl-click joining 16001 highlighted ranges", kRows, scatteredMs, floorMs);

    const double clearMs = bench::medianMs(
        kRuns,
        [&] {
            b.reset();
            b.highlight(b.vendors, kMoved);
        },
        [&] {
            b.clickRow(b.selected, 1);  // clears 16,000 highlights of lstVendors
            b.settle();
        });
    b.checkInStep("click clearing");
    bench::report("click in lstSelectedVendors clearing 16001", kRows, clearMs, floorMs);
}

void benchSetMove(Bench& b) {
    // Floor: the same data work on plain vectors: build 16,001 rows with flagged markers, sort
    // them in among the target's rows and close the gaps they leave in the source.
    const double floorMs = bench::medianMs(
        kRuns, [] {},
        [&] {
            struct Row {
                QString text, name, marker;
                bool selected;
            };
            std::vector<std::shared_ptr<Row>> source, target;
            for (size_t i = 0; i < b.big.size(); ++i)
                source.push_back(std::make_shared<Row>(Row{b.big[i].id, b.big[i].name,
                                                           markers::plainForm(b.big[i].id),
                                                           i % 2 == 0 && i < 2 * kMoved}));
            for (const auto& r : source)
                if (r->selected)
                    target.push_back(std::make_shared<Row>(
                        Row{r->text, r->name, markers::plainForm(r->text) + u'N', true}));
            std::erase_if(source, [](const auto& r) { return r->selected; });
            std::stable_sort(target.begin(), target.end(), [](const auto& x, const auto& y) {
                return QString::compare(x->marker, y->marker, Qt::CaseInsensitive) < 0;
            });
        });
    const double moveMs = bench::medianMs(
        kRuns,
        [&] {
            b.reset();
            b.highlight(b.vendors, kMoved);
            b.control.findChild<QPushButton*>("cmdAddAll")->setEnabled(true);
        },
        [&] {
            b.clickButton("cmdAddAll");
            b.settle();
        });
    b.checkInStep("\">>\"");
    bench::report("\">>\" of 16001 alternating highlighted rows", kMoved, moveMs, floorMs);

    const double allMs = bench::medianMs(
        3,
        [&] {
            b.reset();
            b.highlight(b.vendors, kRows, 1);
            b.control.findChild<QPushButton*>("cmdAddAll")->setEnabled(true);
        },
        [&] {
            b.clickButton("cmdAddAll");
            b.settle();
        });
    b.checkInStep("\">>\" of every row");
    bench::report("\">>\" of every row", kRows, allMs);
}

void benchFind(Bench& b) {
    b.reset();
    const QString missing = QStringLiteral("no such vendor");
    const double floorMs = bench::medianMs(
        kRuns, [] {},
        [&] {
            int hits = 0;
            for (const Source& s : b.big) hits += s.name.contains(missing, Qt::CaseInsensitive);
            if (hits < 0) std::abort();
        });
    const double walkMs = bench::medianMs(
        kRuns, [] {},
        [&] {
            if (!findByName(*b.vendors, missing).isNull()) std::abort();
        });
    bench::report("name search walk that finds nothing", kRows, walkMs, floorMs);

    for (const char* option : {"optFind_0", "optList_0"})
        QTest::mouseClick(b.control.findChild<QRadioButton*>(option), Qt::LeftButton, {},
                          QPoint(6, 8));
    QLineEdit* box = b.control.findChild<QLineEdit*>("txtVendorName");
    box->setText(missing);
    int boxes = 0;
    const double clickMs = bench::medianMs(
        kRuns, [] {},
        [&] {
            // "Not found" is closed as soon as its event loop runs.
            QTimer::singleShot(0, [&] {
                if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    ++boxes;
                    m->done(QMessageBox::Ok);
                }
            });
            b.clickButton("cmdFind");
        });
    if (boxes != kRuns) std::fprintf(stderr, "expected %d boxes, saw %d\n", kRuns, boxes);
    bench::report("Find by name, not found (box shown, closed)", kRows, clickMs, floorMs);

    b.reset();
    for (const char* option : {"optFind_1", "optList_0"})
        QTest::mouseClick(b.control.findChild<QRadioButton*>(option), Qt::LeftButton, {},
                          QPoint(6, 8));
    b.clickRow(b.vendors, 1);
    b.settle();
    QLineEdit* idBox = b.control.findChild<QLineEdit*>("txtVendorID");
    int nth = 0;
    const double foundMs = bench::medianMs(
        kRuns, [&] { idBox->setText(b.big[size_t(kRows - 1 - 997 * nth++)].id); },
        [&] {
            b.clickButton("cmdFind");
            b.settle();
        });
    b.checkInStep("Find by ID");
    bench::report("Find by ID, found (highlight moves)", kRows, foundMs, floorMs);
}

void benchSort(Bench& b) {
    b.reset();
    std::vector<QString> names;
    for (const Source& s : b.big) names.push_back(s.name);
    const double floorMs = bench::medianMs(
        kRuns, [&] { std::reverse(names.begin(), names.end()); },
        [&] {
            std::stable_sort(names.begin(), names.end(), [](const QString& x, const QString& y) {
                return QString::compare(x, y, Qt::CaseInsensitive) < 0;
            });
        });
    bench::report("plain sort of the names, case-insensitive", kRows, floorMs);

    // Baseline: Qt's own model sort of the same rows by the same columns, alternating as the
    // header clicks below do. (A QSortFilterProxyModel sorting without regard to case, fetching
    // both texts as variants for each comparison, takes over a second here.)
    QStandardItemModel qtModel(int(b.big.size()), 3);
    for (size_t i = 0; i < b.big.size(); ++i) {
        qtModel.setItem(int(i), 0, new QStandardItem(b.big[i].id));
        qtModel.setItem(int(i), 1, new QStandardItem(b.big[i].name));
        qtModel.setItem(int(i), 2, new QStandardItem(markers::plainForm(b.big[i].id)));
    }
    int column = 2;
    const double qtMs = bench::medianMs(
        kRuns, [&] { column = column == 1 ? 2 : 1; }, [&] { qtModel.sort(column); });
    bench::report("Qt model sort of the same rows (baseline)", kRows, qtMs);

    int header = 1;
    const double sortMs = bench::medianMs(
        kRuns, [&] { header = header == 2 ? 1 : 2; },
        [&] {
            b.clickHeader(b.vendors, header);  // alternates name order and marker order
            b.settle();
        });
    b.checkInStep("header click");
    bench::report("header click re-sorting the list", kRows, sortMs, floorMs);
    bench::report("header click against the Qt model sort", kRows, sortMs, qtMs);

    b.highlight(b.vendors, kMoved);
    b.settle();
    const double scatteredMs = bench::medianMs(
        kRuns, [&] { header = header == 2 ? 1 : 2; },
        [&] {
            b.clickHeader(b.vendors, header);
            b.settle();
        });
    b.checkInStep("header click with 16001 highlighted");
    bench::report("header click, 16001 rows highlighted", kRows, scatteredMs, qtMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // An argument picks one group: clicks, moves, find or sort.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    Bench b;
    if (only.isEmpty() || only == "clicks") benchClicks(b);
    if (only.isEmpty() || only == "moves") benchSetMove(b);
    if (only.isEmpty() || only == "find") benchFind(b);
    if (only.isEmpty() || only == "sort") benchSort(b);
    return 0;
}
