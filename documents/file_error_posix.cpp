#include "documents/file_error.h"

#include <cerrno>

void ClearFileError() { errno = 0; }

int LastFileError() { return errno; }
