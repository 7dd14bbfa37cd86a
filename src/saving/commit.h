#pragma once

#include "saving/internet_transfer.h"

#include <QString>

namespace tavrolin {

struct Control;

// Sends the change set of both lists to the server page and waits for the transfer to end,
// letting pending events run meanwhile. Leaves lists, markers and buttons as they are. Every
// failure ends in the "Error Occoured" box; nothing is passed to the caller. Returns whether
// the save went through: there was nothing to send, or the whole reply arrived with a success
// status. It did not when the error path was taken, the transfer failed or the server answered
// with an error status.
bool saveToDatabase(Control& control);

// "Commit to Database": disables the move buttons and itself, saves, and empties the progress
// bar. A save that went through reloads the employee from the server; one that did not keeps
// the lists with their highlights and change markers and enables the button again for a retry.
void commitChanges(Control& control);

// Reacts to the transfer's state: an error reports the failure, a completed response shows the
// server's reply.
void transferStateChanged(Control& control, InternetTransfer::State state);

// Connects "Commit to Database" and the transfer component's notifications.
void connectSaving(Control& control);

// The save request as the server page receives it.
QString saveRequestUrl(const QString& serverName);

// Whether an HTTP status says the server did what was asked (2xx).
bool isSuccessStatus(int status);

// A reply is shown unless it holds nothing but spaces (tabs and line breaks count as text).
bool isBlankReply(QStringView reply);

}  // namespace tavrolin
