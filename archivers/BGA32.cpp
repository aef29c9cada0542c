// "BGA32.DLL": extraction and detection of BGA archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Bga, arc::Kind::Bga)
