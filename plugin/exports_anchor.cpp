// Veltora.pcp is made of the export libraries linked whole; this file only
// gives the shared library target a source of its own.
#include "frame/veltora.h"
