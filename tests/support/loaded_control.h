#pragma once

#include "support/control_driver.h"
#include "support/document_server.h"

#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace test_support {

// A shown, active control loaded from a crafted vendor document over HTTP, with a driver.
struct LoadedControl {
    DocumentServer server;
    Tavrolin control;
    ControlDriver ui{control};

    LoadedControl() {
        control.show();
        control.activateWindow();
        (void)QTest::qWaitForWindowActive(&control);
    }

    // Header counts default to the number of records.
    void load(const std::vector<Vendor>& nonSelected, const std::vector<Vendor>& selected,
              std::string vendorCount = {}, std::string selectedCount = {}) {
        if (vendorCount.empty()) vendorCount = std::to_string(nonSelected.size());
        if (selectedCount.empty()) selectedCount = std::to_string(selected.size());
        server.setDocument(vendorDocument(vendorCount, selectedCount, nonSelected, selected));
        control.setEmployeeID("42");
        control.setServerName(QString::fromStdString(server.baseUrl()));
    }

    // Clicks an option button on its indicator, where a user aims.
    void choose(const char* optionName) {
        QRadioButton* option = ui.option(optionName);
        if (!option->isEnabled()) {
            ADD_FAILURE() << "chose " << optionName << ", which is disabled";
            return;
        }
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
    }

    // The child that holds the keyboard focus inside the control's window.
    QWidget* focused() { return control.window()->focusWidget(); }
};

}  // namespace test_support
