#pragma once

// An employee's typical moves as the control posts them, byte for byte: vendors 123 and 77 (in
// name order, Acme before Beta) added to employee 42, and 456 and 900 taken off.
namespace test_support {

inline constexpr const char* kTypicalMovesBody =
    "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28EmployeeID%2CVendorID%2CRecordLastUpdated%29"
    "+VALUES+%2842%2C123%2CGETDATE%28%29+%29+&"
    "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28EmployeeID%2CVendorID%2CRecordLastUpdated%29"
    "+VALUES+%2842%2C77%2CGETDATE%28%29+%29+&"
    "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+EmployeeID%3D42+AND+VendorID+IN%28456%2C900"
    "%29&";

}  // namespace test_support
