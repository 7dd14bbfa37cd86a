#pragma once

#include "control/screen.h"

#include <QDomDocument>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace tavrolin {

// Everything an operation of the control works on: its screen and its fields. The widget owns
// one; the subsystems' operations take it by reference.
struct Control {
    Screen ui;

    QString mServerName;
    qint32 mEmployeeID = 0;
    qint16 mVendorCount = 0;
    qint16 mSelectedCount = 0;
    qint16 mProgress = 0;
    std::unique_ptr<QDomDocument> mXmlDoc;

    // How long the load waits for the vendor document before it gives up quietly.
    std::chrono::milliseconds loadTimeout{30000};
    // Set while a load runs, so that nothing starts a second one inside it.
    bool loading = false;

    // What the widget passes on to its host: the end of every load (false when it ended early)
    // and of every commit by the button (whether the server took it).
    std::function<void(bool ok)> loadFinished;
    std::function<void(bool saved)> commitFinished;
};

}  // namespace tavrolin
