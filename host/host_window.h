#pragma once

#include <QMainWindow>

class QCloseEvent;
class QLineEdit;
class Tavrolin;

// The demo host: a bar with the employee and the server address above the embedded control,
// which fills the window as it grows, and a status line that says when a load failed.
class HostWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit HostWindow(QWidget* parent = nullptr);

    Tavrolin* control() const { return mControl; }
    // Sets EmployeeID, then ServerName, as a host must. Returns an empty text, or what is
    // wrong with the employee (then nothing was loaded).
    QString apply(const QString& employee, const QString& server);

protected:
    // With moves not yet committed, asks whether to commit them, discard them or stay.
    void closeEvent(QCloseEvent* event) override;

private:
    QLineEdit* mEmployee = nullptr;
    QLineEdit* mServer = nullptr;
    Tavrolin* mControl = nullptr;
};
