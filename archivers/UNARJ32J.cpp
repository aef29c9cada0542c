// "UNARJ32J.DLL": ARJ archives: extraction, listing, checking.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unarj, arc::Kind::Arj)
