#include "saving/commit.h"

#include "control/control.h"

namespace tavrolin {

void saveToDatabase(Control& control) { (void)control; }

void connectSaving(Control& control) { (void)control; }

}  // namespace tavrolin
