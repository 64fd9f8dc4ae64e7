// Files that hold a secret (a database URI with its password).
#pragma once

#include <string>

/// Takes group and other rights away from `path` when it has any. False
/// with the reason in `error` when it could not.
bool MakeOwnerOnly(const std::string& path, std::string& error);
