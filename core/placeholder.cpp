// Placeholder translation unit; removed once the core has sources.
#include "core/quor_build.h"
