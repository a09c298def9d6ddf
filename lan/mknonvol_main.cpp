// mknonvol: builds the default nonvolatile tree, as the factory does for a new
// instrument; the virtual chassis runs it for a fresh root. The tree goes under the
// nonvolatile root ("/mnt/nonv", under CHASSIS_ROOT when that is set).
#include "lan/nonvol_defaults.h"
#include "platform/paths.h"

int main() { return create_default_nonvol_file_system(platform::ResolvePath(kNonvolRoot)); }
