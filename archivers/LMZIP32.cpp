// "LMZIP32.DLL": ZIP archives both ways: extraction through "Unzip",
// creation ("-ru") through "Zip", listing, checking and one member into
// memory; its reading entries spell the prefix "Unzip".
#include "core/Exports.h"

ARC_COMMAND_ENTRY(Unzip, arc::Kind::Zip)
ARC_ZIP_ENTRY(arc::Kind::Zip)
ARC_READING_ENTRIES(Unzip, arc::Kind::Zip)
ARC_EXTRACTMEM_ENTRY(Unzip, arc::Kind::Zip)
