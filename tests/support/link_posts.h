#pragma once

// Change posts as the control sends them, for tests and benchmarks of the server that have no Qt:
// the two statement texts byte for byte and the form body that carries them.

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace tavrolin::test {

inline std::string insertSql(long long employee, const std::string& vendor) {
    return "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
           "VALUES (" +
           std::to_string(employee) + "," + vendor + ",GETDATE() ) ";
}

inline std::string deleteSql(long long employee, const std::string& inList) {
    return "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=" + std::to_string(employee) +
           " AND VendorID IN(" + inList + ")";
}

// One form field "SQL=…&", encoded as the control encodes it.
inline std::string formField(const std::string& statement) {
    std::string field = "SQL=";
    for (const unsigned char c : statement) {
        if (c == ' ') {
            field += '+';
        } else if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            field += char(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            field += escape;
        }
    }
    return field + '&';
}

inline std::string formBody(const std::vector<std::string>& statements) {
    std::string body;
    for (const auto& statement : statements) body += formField(statement);
    return body;
}

}  // namespace tavrolin::test
