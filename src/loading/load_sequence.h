#pragma once

#include <QString>

namespace tavrolin {

struct Control;

// Shows one employee's vendor links from scratch: empties both lists, fetches the vendor
// document from <server>/Tavrolin.asp?EmployeeID=<employee> and fills both lists. An empty
// server text keeps the stored address. Any failure ends the load quietly with what was filled
// so far; the wait cursor is always reset. Blocks until done, then tells control.loadFinished
// whether it ran to its end; a load asked for while one runs does not run and reports false.
void loadData(Control& control, qint32 employee, const QString& server);

}  // namespace tavrolin

namespace tavrolin {
// The address of an employee's vendor document: nothing escaped, nothing corrected.
QString vendorDocumentUrl(const QString& serverName, qint32 employee);
}  // namespace tavrolin
