// "ZIP32J.DLL": ZIP archives: creation, adding, freshening and deletion
// through "Zip", listing, checking and one member into memory through the
// "UnZip" entries.
#include "core/Exports.h"

ARC_ZIP_ENTRY(arc::Kind::Zip)
ARC_READING_ENTRIES(UnZip, arc::Kind::Zip)
ARC_EXTRACTMEM_ENTRY(UnZip, arc::Kind::Zip)
