#include "host_window.h"

#include <tavrolin/tavrolin.h>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

HostWindow::HostWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Tavrolin demo host"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* bar = new QHBoxLayout;
    mEmployee = new QLineEdit(central);
    mEmployee->setObjectName("hostEmployee");
    mEmployee->setPlaceholderText(tr("e.g. 42"));
    mEmployee->setMaximumWidth(90);
    mEmployee->setAccessibleName(tr("Employee ID"));
    mServer = new QLineEdit(central);
    mServer->setObjectName("hostServer");
    mServer->setPlaceholderText(tr("http://127.0.0.1:8080"));
    mServer->setAccessibleName(tr("Server address"));
    auto* applyButton = new QPushButton(tr("Apply"), central);
    applyButton->setObjectName("hostApply");
    auto* saveButton = new QPushButton(tr("Save"), central);
    saveButton->setObjectName("hostSave");
    auto* employeeLabel = new QLabel(tr("&Employee:"), central);
    employeeLabel->setBuddy(mEmployee);
    auto* serverLabel = new QLabel(tr("Se&rver:"), central);
    serverLabel->setBuddy(mServer);
    bar->addWidget(employeeLabel);
    bar->addWidget(mEmployee);
    bar->addWidget(serverLabel);
    bar->addWidget(mServer, 1);
    bar->addWidget(applyButton);
    bar->addWidget(saveButton);
    layout->addLayout(bar);
    mControl = new Tavrolin(central);
    layout->addWidget(mControl, 1);
    setCentralWidget(central);
    statusBar()->setObjectName("hostStatus");

    connect(applyButton, &QPushButton::clicked, this, [this] {
        const QString problem = apply(mEmployee->text(), mServer->text());
        if (!problem.isEmpty()) QMessageBox::warning(this, tr("Employee"), problem);
    });
    connect(saveButton, &QPushButton::clicked, mControl, &Tavrolin::SaveToDatabase);
    connect(mControl, &Tavrolin::loadFinished, this, [this](bool ok) {
        if (ok)
            statusBar()->showMessage(tr("Employee %1 loaded.").arg(mEmployee->text().trimmed()));
        else
            statusBar()->showMessage(tr("Loading employee %1 from %2 failed; the lists show only "
                                        "what arrived.")
                                         .arg(mEmployee->text().trimmed(), mServer->text()));
    });
    connect(mControl, &Tavrolin::commitFinished, this, [this](bool saved) {
        statusBar()->showMessage(saved ? tr("Changes committed.")
                                       : tr("The changes were not committed."));
    });
}

void HostWindow::closeEvent(QCloseEvent* event) {
    if (!mControl->hasPendingChanges()) {
        event->accept();
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Uncommitted changes"),
                    tr("Commit the vendor links you changed before closing?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.button(QMessageBox::Save)->setText(tr("Commit"));
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Save) {
        bool saved = false;
        const auto connection =
            connect(mControl, &Tavrolin::commitFinished, this, [&saved](bool ok) { saved = ok; });
        mControl->SaveToDatabase();
        disconnect(connection);
        // A commit that did not go through keeps the window, and the moves, for another try.
        if (!saved) {
            event->ignore();
            return;
        }
    } else if (answer != QMessageBox::Discard) {
        event->ignore();
        return;
    }
    event->accept();
}

QString HostWindow::apply(const QString& employee, const QString& server) {
    mEmployee->setText(employee);
    mServer->setText(server);
    try {
        mControl->setEmployeeID(employee);
    } catch (const tavrolin::RunTimeError& e) {
        return tr("The employee \"%1\" cannot be used: %2 (error %3).")
            .arg(employee, e.description())
            .arg(e.number());
    }
    mControl->setServerName(server);
    return {};
}
