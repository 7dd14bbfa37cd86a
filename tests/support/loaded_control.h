#pragma once

#include "control/list_view/progress_bar.h"
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

// A shown, active control with a driver, loading from a recording server that hands it crafted
// vendor documents.
struct LoadedControl {
    DocumentServer server;
    Tavrolin control;
    ControlDriver ui{control};

    LoadedControl() {
        control.show();
        control.activateWindow();
        (void)QTest::qWaitForWindowActive(&control);
    }

    QString url() const { return QString::fromStdString(server.baseUrl()); }
    // Serves `document` to every request and loads it for `employee`.
    void loadDocument(const std::string& document, const QString& employee = "42") {
        server.setDocument(document);
        control.setEmployeeID(employee);
        control.setServerName(url());
    }
    // Header counts default to the number of records.
    void load(const std::vector<Vendor>& nonSelected, const std::vector<Vendor>& selected,
              std::string vendorCount = {}, std::string selectedCount = {}) {
        if (vendorCount.empty()) vendorCount = std::to_string(nonSelected.size());
        if (selectedCount.empty()) selectedCount = std::to_string(selected.size());
        loadDocument(vendorDocument(vendorCount, selectedCount, nonSelected, selected));
    }
    // The requests of one method ("GET", "POST") the server has had, in order.
    std::vector<DocumentServer::Request> requests(const std::string& method) const {
        std::vector<DocumentServer::Request> out;
        for (const auto& r : server.requests())
            if (r.method == method) out.push_back(r);
        return out;
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

    tavrolin::ProgressBar* bar() { return control.findChild<tavrolin::ProgressBar*>("prbLoad"); }
    // The child that holds the keyboard focus inside the control's window.
    QWidget* focused() { return control.window()->focusWidget(); }
};

}  // namespace test_support
