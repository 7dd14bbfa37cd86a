#pragma once

#include <QString>
#include <QWidget>

#include <chrono>
#include <memory>

#include "run_time_error.h"
#include "tavrolin_export.h"

// The employee-to-vendor cross reference control. Put it on a window, call setEmployeeID()
// and then setServerName(): the control loads the employee's vendors from
// <server>/Tavrolin.asp and lets the user link and unlink vendors and commit the changes.
// The employee and the server are write-only; what a load or a commit comes to is shown to the
// user and also told to the host through the signals below, as is whether the user has moves
// not yet committed.
class TAVROLIN_EXPORT Tavrolin : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool pendingChanges READ hasPendingChanges NOTIFY pendingChangesChanged)

public:
    explicit Tavrolin(QWidget* parent = nullptr);
    ~Tavrolin() override;

    // The employee to show, as text: blanks, optional sign, digits, a fraction rounded to the
    // nearest whole number (ties to even). Throws tavrolin::RunTimeError 13 (type mismatch) for
    // a text that is not a number and 6 (overflow) outside 32 bits; the previous employee then
    // stays. Does not load.
    Q_INVOKABLE void setEmployeeID(const QString& employeeId);

    // The server's base address, scheme and host, without a trailing slash
    // ("http://host:port"). Stores it and loads the current employee before returning; every
    // assignment reloads. A failed load raises nothing: it ends quietly with what it had
    // filled so far (usually empty lists) and loadFinished(false).
    Q_INVOKABLE void setServerName(const QString& serverName);

    // Sends the moves made since the last load to the server, without reloading.
    Q_INVOKABLE void SaveToDatabase();

    // Form-encodes a text as the save request does (Windows-1252 bytes, "+" for space).
    Q_INVOKABLE QString urlEncode(const QString& text) const;

    // How long a load waits for the server (30 s unless set) and how long a save's transfer
    // may take (60 s unless set).
    void setLoadTimeout(std::chrono::milliseconds timeout);
    void setSaveTimeout(std::chrono::milliseconds timeout);

    // Whether any row carries a move that a commit would send.
    bool hasPendingChanges() const;

    // The designed layout, every child whole. Given more room the lists take it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // After every load, from setServerName() and from the reload after a commit; false when the
    // load ended early for any reason (server unreachable, bad document, a list overflowing).
    void loadFinished(bool ok);
    // Once per "Commit to Database" and per SaveToDatabase(): true when the server took the post
    // (a whole reply with a 2xx status) or there was nothing to post. After the commit button's
    // reload, which has already sent loadFinished().
    void commitFinished(bool saved);
    void pendingChangesChanged(bool pendingChanges);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
