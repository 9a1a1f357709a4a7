#include "common/TextWriter.h"

// TextWriter is header-only so that its hot paths inline into the exporters; this unit
// makes sure the header stands on its own.
