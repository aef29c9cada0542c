// "CAB32.DLL": extraction and detection of CAB archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Cab, arc::Kind::Cab)
