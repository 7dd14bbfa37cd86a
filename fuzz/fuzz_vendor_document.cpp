// The control's reading of a vendor document, from the reply's bytes to both filled lists, the
// way a load runs it: parse, counts, non-selected list, selected list. Whatever the reply, a
// failing step stops the load with only whole rows in the lists, each a whole-number vendor ID
// with its plain marker; a document read to the end fills one row per record.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QByteArray>
#include <QDomDocument>
#include <QLabel>
#include <QWidget>

#include <tavrolin/run_time_error.h>

#include "control/control.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "control/screen.h"
#include "fuzz_check.h"
#include "lists/markers.h"
#include "loading/fill_lists.h"
#include "loading/vendor_document.h"

using namespace tavrolin;

namespace {

struct Parts {
    QWidget widget;
    Control control;
    Parts() { control.ui = buildScreen(&widget); }
};

Parts* gParts = nullptr;

int childCount(const QDomNode& node) {
    int count = 0;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) ++count;
    return count;
}

// The number of records in a list of the document, or -1 when the list is missing.
int recordCount(const QDomDocument& document, int listPosition) {
    QDomNode list = document.documentElement().firstChild();
    for (int i = 0; i < listPosition && !list.isNull(); ++i) list = list.nextSibling();
    return list.isNull() ? -1 : childCount(list);
}

bool isWholeNumber(const QString& text) {
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

void checkRows(const ListView& list) {
    for (int position = 1; position <= list.count(); ++position) {
        const ListItem row = list.item(position);
        FUZZ_CHECK(isWholeNumber(row.text()));
        FUZZ_CHECK(row.subItem(2) == markers::plainForm(row.text()));
        FUZZ_CHECK(markers::isPlain(row.subItem(2)));
    }
}

bool endsWithCount(const QLabel* label, int count) {
    return label->text().endsWith(QStringLiteral("(%1):").arg(count));
}

}  // namespace

// Filling the lists lays the views out at once, which loads the fonts; fontconfig keeps what it
// allocates then for the life of the process, which is no leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // libFuzzer ends with exit(): take the widgets and the application down first, in the
    // order a Qt program's main() would, while Qt's own per-thread caches still exist.
    new QApplication(*argc, *argv);
    gParts = new Parts;
    std::atexit([] {
        delete gParts;
        delete qApp;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Control& control = gParts->control;
    Screen& ui = control.ui;
    ui.lstVendors->clear();
    ui.lstSelectedVendors->clear();
    control.mProgress = 0;

    control.mXmlDoc = std::make_unique<QDomDocument>();
    // As a load does: a reply nested too deep or not well formed leaves the document empty.
    tavrolin::vendor_document::parseReply(
        *control.mXmlDoc, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    // Shares the tree, which the last fill step lets go of.
    const QDomDocument document = *control.mXmlDoc;

    enum Reached { Nothing, Counts, Vendors, Everything } reached = Nothing;
    int errorNumber = 0;
    try {
        readCounts(control);
        reached = Counts;
        fillVendors(control);
        reached = Vendors;
        fillSelectedVendors(control);
        reached = Everything;
    } catch (const RunTimeError& error) {
        // Only the errors a load can meet in a reply: no such node, not a number, overflow,
        // a progress value beyond the counts.
        errorNumber = error.number();
        FUZZ_CHECK(errorNumber == errors::ObjectNotSet || errorNumber == errors::TypeMismatch ||
                   errorNumber == errors::Overflow || errorNumber == errors::InvalidPropertyValue);
    }

    if (document.documentElement().isNull()) FUZZ_CHECK(reached == Nothing);
    const int vendors = ui.lstVendors->count();
    const int selected = ui.lstSelectedVendors->count();
    checkRows(*ui.lstVendors);
    checkRows(*ui.lstSelectedVendors);
    if (reached == Nothing) {
        FUZZ_CHECK(vendors == 0 && selected == 0);
        return 0;
    }

    FUZZ_CHECK(ui.prbLoad->max() == control.mVendorCount + control.mSelectedCount);
    FUZZ_CHECK(endsWithCount(ui.lblAllVendors, control.mVendorCount));
    FUZZ_CHECK(endsWithCount(ui.lblSelVendors, control.mSelectedCount));
    // The bar moves once per row, never past the counts; a row whose step of the bar fails
    // stays in the list uncounted.
    const bool barFailed =
        errorNumber == errors::InvalidPropertyValue || errorNumber == errors::Overflow;
    FUZZ_CHECK(control.mProgress == vendors + selected ||
               (barFailed && control.mProgress == vendors + selected - 1));
    FUZZ_CHECK(control.mProgress <= ui.prbLoad->max() + 1);

    const int vendorRecords = recordCount(document, vendor_document::kNonSelectedList);
    FUZZ_CHECK(vendors <= std::max(vendorRecords, 0));
    if (reached >= Vendors) {
        FUZZ_CHECK(vendors == vendorRecords);
    } else {
        FUZZ_CHECK(selected == 0);
    }
    const int selectedRecords = recordCount(document, vendor_document::kSelectedList);
    FUZZ_CHECK(selected <= std::max(selectedRecords, 0));
    if (reached == Everything) {
        FUZZ_CHECK(selected == selectedRecords);
        FUZZ_CHECK(!control.mXmlDoc);
        FUZZ_CHECK(ui.prbLoad->value() == ui.prbLoad->max());
    }
    return 0;
}
