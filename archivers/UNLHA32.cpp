// "UNLHA32.DLL": LHA archives: extraction, creation ("u"), freshening
// ("f"), deletion ("d"), listing, checking, one member into memory; the ARJ
// back-end's operations other than extraction come here too.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unlha, arc::Kind::Lha)
ARC_EXTRACTMEM_ENTRY(Unlha, arc::Kind::Lha)
