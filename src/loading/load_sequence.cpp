#include "loading/load_sequence.h"

#include "control/control.h"

namespace tavrolin {

void loadData(Control& control, qint32 employee, const QString& server) {
    control.mEmployeeID = employee;
    if (!server.isEmpty()) control.mServerName = server;
}

}  // namespace tavrolin
