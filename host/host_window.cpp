#include "host_window.h"

#include <tavrolin/tavrolin.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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
    mServer = new QLineEdit(central);
    mServer->setObjectName("hostServer");
    mServer->setPlaceholderText(tr("http://127.0.0.1:8080"));
    auto* applyButton = new QPushButton(tr("Apply"), central);
    applyButton->setObjectName("hostApply");
    auto* saveButton = new QPushButton(tr("Save"), central);
    saveButton->setObjectName("hostSave");
    bar->addWidget(new QLabel(tr("Employee:"), central));
    bar->addWidget(mEmployee);
    bar->addWidget(new QLabel(tr("Server:"), central));
    bar->addWidget(mServer, 1);
    bar->addWidget(applyButton);
    bar->addWidget(saveButton);
    layout->addLayout(bar);
    mControl = new Tavrolin(central);
    mControl->setFixedSize(mControl->sizeHint());
    layout->addWidget(mControl, 0, Qt::AlignLeft | Qt::AlignTop);
    setCentralWidget(central);

    connect(applyButton, &QPushButton::clicked, this, [this] {
        const QString problem = apply(mEmployee->text(), mServer->text());
        if (!problem.isEmpty()) QMessageBox::warning(this, tr("Employee"), problem);
    });
    connect(saveButton, &QPushButton::clicked, mControl, &Tavrolin::SaveToDatabase);
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
