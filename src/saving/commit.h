#pragma once

namespace tavrolin {

struct Control;

// Sends the change set of both lists to the server page and reports the outcome.
void saveToDatabase(Control& control);

// Connects "Commit to Database" and the transfer component's notifications.
void connectSaving(Control& control);

}  // namespace tavrolin
