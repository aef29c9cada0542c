// "UNRAR32.DLL": extraction and detection of RAR archives.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Unrar, arc::Kind::Rar)
