#include "find/find_center.h"

#include "control/control.h"

namespace tavrolin {

void connectFindCenter(Control& control) { (void)control; }

}  // namespace tavrolin
