#pragma once

#include "database.h"

namespace tavrolin::server {

// Fills an empty database with a fixed sample: a few hundred vendors, some inactive, and a few
// employees with links (employee 42 among them). Does nothing when vendors already exist, so a
// real database is never touched. Returns whether it seeded.
bool seedDemoData(Connection& connection);

}  // namespace tavrolin::server
