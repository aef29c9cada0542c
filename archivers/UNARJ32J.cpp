// "UNARJ32J.DLL": extraction and detection of ARJ archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unarj, arc::Kind::Arj)
