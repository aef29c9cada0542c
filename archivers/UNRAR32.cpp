// "UNRAR32.DLL": RAR archives: extraction, listing, checking, one member
// into memory. RAR archives are not written.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unrar, arc::Kind::Rar)
ARC_EXTRACTMEM_ENTRY(Unrar, arc::Kind::Rar)
