#pragma once

// The server page the control loads the vendor document from and posts its changes to. Plain
// C++ so that the server, which has no Qt, answers at the same path.
namespace tavrolin {

inline constexpr char kPagePath[] = "/Tavrolin.asp";
// The query that names the employee whose vendor document a load asks for.
inline constexpr char kEmployeeQuery[] = "?EmployeeID=";

}  // namespace tavrolin
