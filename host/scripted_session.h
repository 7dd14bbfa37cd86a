#pragma once

#include <QString>

class HostWindow;

// A short session for machines without a display: screenshots of the loaded lists, then one
// move each way, a commit and the reloaded lists. Returns the files written, in order.
QStringList runScriptedSession(HostWindow& window, const QString& directory);
