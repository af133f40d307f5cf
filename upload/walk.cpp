// The directory walk.
#include "upload/walk.h"

void UploadTree(RunState&, const std::string&, const std::string&) {}
