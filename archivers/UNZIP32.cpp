// "UNZIP32.DLL": ZIP archives: extraction, listing, checking, one member
// into memory.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(UnZip, arc::Kind::Zip)
ARC_EXTRACTMEM_ENTRY(UnZip, arc::Kind::Zip)
