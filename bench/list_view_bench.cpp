// Costs of the list view at the 32,767-row limit, against plain vectors as the floor.
#include "bench_util.h"
#include "common/text_services.h"
#include "control/list_view/list_view.h"

#include <QApplication>

#include <malloc.h>
#include <QRandomGenerator>

#include <memory>

using namespace tavrolin;

namespace {

constexpr int kRows = 32767;

struct Source {
    QString id, name, marker;
};

std::vector<Source> makeRows() {
    std::vector<Source> rows;
    QRandomGenerator rng(7);
    for (int i = 0; i < kRows; ++i) {
        const QString id = QString::number(rng.bounded(1, 999999));
        rows.push_back({id, QStringLiteral("Vendor %1 %2").arg(rng.bounded(100000)).arg(i),
                        text::sixDigitPicture(id)});
    }
    return rows;
}

std::unique_ptr<ListView> makeList() {
    auto list = std::make_unique<ListView>();
    list->resize(265, 185);
    list->addColumnHeader("ID", 795);
    list->addColumnHeader("Name", 3180);
    list->addColumnHeader("ID", 0);
    list->setSortKey(2);
    list->show();
    return list;
}

// As the load fills a list: one batch, announced to the model when it ends.
void fill(ListView& list, const std::vector<Source>& rows) {
    const ListView::Batch batch(list);
    for (const Source& s : rows) {
        ListItem row = list.add(s.id);
        row.setSubItem(1, s.name);
        row.setSubItem(2, text::sixDigitPicture(row.text()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto rows = makeRows();
    std::unique_ptr<ListView> list;

    const double floorFill = bench::medianMs(
        5, [] {},
        [&] {
            std::vector<std::unique_ptr<Source>> v;
            for (const Source& s : rows)
                v.push_back(std::make_unique<Source>(
                    Source{s.id, s.name, text::sixDigitPicture(s.id)}));
            std::stable_sort(v.begin(), v.end(),
                             [](auto& a, auto& b) { return a->marker < b->marker; });
        });
    const double addMs = bench::medianMs(
        5, [&] { list = makeList(); }, [&] { fill(*list, rows); });
    bench::report("add rows in a batch, sorted by marker", kRows, addMs, floorFill);

    const double paintMs = bench::medianMs(
        5, [&] { list = makeList(); fill(*list, rows); },
        [&] {
            QCoreApplication::processEvents();
            list->repaint();
        });
    bench::report("paint the filled list", kRows, paintMs);

    list = makeList();
    fill(*list, rows);
    int key = 1;
    const double sortMs = bench::medianMs(
        5, [&] { key = key == 1 ? 2 : 1; },
        [&] {
            list->setSortKey(key);
            (void)list->item(1);
        });
    bench::report("re-sort by another column", kRows, sortMs);

    const double highlightMs = bench::medianMs(
        5,
        [&] {
            list = makeList();
            fill(*list, rows);
            list->setMultiSelect(true);
        },
        [&] {
            const ListView::Batch batch(*list);
            for (int p = 1; p <= list->count(); p += 2) list->item(p).setSelected(true);
        });
    bench::report("highlight every other row one at a time", kRows, highlightMs);

    const double removeMs = bench::medianMs(
        5,
        [&] {
            list = makeList();
            fill(*list, rows);
            list->setMultiSelect(true);
            const ListView::Batch batch(*list);
            for (int p = 1; p <= list->count(); p += 2) list->item(p).setSelected(true);
        },
        [&] {
            const ListView::Batch batch(*list);
            for (int p = list->count(); p >= 1; --p)
                if (list->item(p).selected()) list->remove(p);
        });
    bench::report("remove highlighted rows walking down", kRows, removeMs);

    const double clickWalkMs = bench::medianMs(
        5, [&] { list = makeList(); fill(*list, rows); },
        [&] {
            int highlighted = 0;
            for (int p = 1; p <= list->count(); ++p)
                if (list->item(p).selected()) ++highlighted;
            if (highlighted < 0) std::abort();
        });
    bench::report("walk every row reading the highlight", kRows, clickWalkMs);

    // Heap held per row by a filled list (rows, their texts and the list's own vectors).
    list.reset();
    const size_t heapBefore = mallinfo2().uordblks;
    list = makeList();
    fill(*list, rows);
    const size_t heapAfter = mallinfo2().uordblks;
    std::printf("%-44s size=%-6d bytes/row=%.1f\n", "heap held by a filled list", kRows,
                double(heapAfter - heapBefore) / kRows);
    return 0;
}
