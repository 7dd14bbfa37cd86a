#include "find/find_center.h"

#include "control/control.h"
#include "control/list_view/list_view.h"
#include "control/message_box.h"
#include "find/vendor_search.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

namespace tavrolin {
namespace {

const QString kNotFound = QStringLiteral("Not found");
constexpr int kByName = 0;
constexpr int kById = 1;

void tellNotFound(QWidget* parent) {
    showMessage(parent, QMessageBox::Information, defaultMessageTitle(), kNotFound);
}

}  // namespace

void chooseSearchKey(Screen& ui, int index) {
    QLineEdit* chosen = index == kById ? ui.txtVendorID : ui.txtVendorName;
    QLineEdit* other = index == kById ? ui.txtVendorName : ui.txtVendorID;
    other->setText(QString());
    setTextBoxActive(other, false);
    setTextBoxActive(chosen, true);
}

void searchTextChanged(Screen& ui, const QString& text) {
    ui.cmdFind->setEnabled(!text.isEmpty());
}

void findVendor(Screen& ui) {
    ui.lstSelectedVendors->setMultiSelect(false);
    ui.lstVendors->setMultiSelect(false);
    // The move buttons come back only when the user clicks a list.
    ui.cmdDelete->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(false);
    ui.cmdAddAll->setEnabled(false);
    ui.cmdAdd->setEnabled(false);

    ListView& list = ui.optList[0]->isChecked() ? *ui.lstVendors : *ui.lstSelectedVendors;
    ListItem found = ui.optFind[kByName]->isChecked() ? findByName(list, ui.txtVendorName->text())
                                                      : findById(list, ui.txtVendorID->text());
    if (found.isNull()) {
        tellNotFound(ui.control);
        return;
    }
    found.setSelected(true);  // single-row mode: the only highlight of this list
    found.ensureVisible();
    list.setFocus();
}

void connectFindCenter(Control& control) {
    Screen& ui = control.ui;
    // Auto-exclusive option buttons exclude every option button anywhere inside their frame,
    // and Frame1 sits inside fraFind: without groups of their own, a click on the chosen key
    // unchooses it because a list option is chosen too.
    auto* keys = new QButtonGroup(ui.fraFind);
    auto* lists = new QButtonGroup(ui.Frame1);
    for (int index : {0, 1}) {
        keys->addButton(ui.optFind[index], index);
        lists->addButton(ui.optList[index], index);
    }
    QObject::connect(keys, &QButtonGroup::idClicked, keys,
                     [&ui](int index) { chooseSearchKey(ui, index); });
    for (QLineEdit* box : {ui.txtVendorID, ui.txtVendorName}) {
        QObject::connect(box, &QLineEdit::textChanged, box,
                         [&ui](const QString& text) { searchTextChanged(ui, text); });
        // Enter in either box does what a click on Find does, when Find can be clicked.
        QObject::connect(box, &QLineEdit::returnPressed, box, [&ui] {
            if (ui.cmdFind->isEnabled()) ui.cmdFind->click();
        });
    }
    QObject::connect(ui.cmdFind, &QPushButton::clicked, ui.cmdFind, [&ui] { findVendor(ui); });
}

}  // namespace tavrolin
