// The user's trash, where a file goes that the user may still want back.
#pragma once

#include "engine/file_services.h"

namespace karvel {

// Moves the file at path into the trash of its own volume, never copying it; false, the file left
// where it is, when no trash there takes it.
bool MoveToTrash(const SystemPath& path);

}  // namespace karvel
