#include "lists/editing.h"

#include "control/control.h"

namespace tavrolin {

void connectListEditing(Control& control) { (void)control; }

}  // namespace tavrolin
