// The shared library's own translation unit: everything it exports comes from
// the internal static library, linked whole. Loading and unloading do nothing.
#include "plenvo.h"
