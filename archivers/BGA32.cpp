// "BGA32.DLL": BGA archives (GZA, BZA): extraction, adding ("a"),
// deletion ("d"), listing, checking.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Bga, arc::Kind::Bga)
