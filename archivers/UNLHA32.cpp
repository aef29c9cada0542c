// "UNLHA32.DLL": extraction and detection of LHA archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unlha, arc::Kind::Lha)
