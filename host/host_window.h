#pragma once

#include <QMainWindow>

class QLineEdit;
class Tavrolin;

// The demo host: a bar with the employee and the server address above the embedded control.
class HostWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit HostWindow(QWidget* parent = nullptr);

    Tavrolin* control() const { return mControl; }
    // Sets EmployeeID, then ServerName, as a host must. Returns an empty text, or what is
    // wrong with the employee (then nothing was loaded).
    QString apply(const QString& employee, const QString& server);

private:
    QLineEdit* mEmployee = nullptr;
    QLineEdit* mServer = nullptr;
    Tavrolin* mControl = nullptr;
};
