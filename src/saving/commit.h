#pragma once

#include "saving/internet_transfer.h"

#include <QString>

namespace tavrolin {

struct Control;

// Sends the change set of both lists to the server page and waits for the transfer to end,
// letting pending events run meanwhile. Leaves lists, markers and buttons as they are. Every
// failure ends in the "Error Occoured" box; nothing is passed to the caller.
void saveToDatabase(Control& control);

// "Commit to Database": disables the move buttons and itself, saves, and reloads the employee
// from the server whatever the save's outcome.
void commitChanges(Control& control);

// Reacts to the transfer's state: an error reports the failure, a completed response shows the
// server's reply.
void transferStateChanged(Control& control, InternetTransfer::State state);

// Connects "Commit to Database" and the transfer component's notifications.
void connectSaving(Control& control);

// The save request as the server page receives it.
QString saveRequestUrl(const QString& serverName);

// A reply is shown unless it holds nothing but spaces (tabs and line breaks count as text).
bool isBlankReply(QStringView reply);

}  // namespace tavrolin
