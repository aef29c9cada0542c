// "UNZIP32.DLL": extraction and detection of ZIP archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(UnZip, arc::Kind::Zip)
