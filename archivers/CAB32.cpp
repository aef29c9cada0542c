// "CAB32.DLL": CAB archives: extraction, creation ("-a"), listing,
// checking, one member into memory.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Cab, arc::Kind::Cab)
ARC_EXTRACTMEM_ENTRY(Cab, arc::Kind::Cab)
