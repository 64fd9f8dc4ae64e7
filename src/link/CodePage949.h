// The handsets keep file names in code page 949 (Korean). Each OS converts
// with its own tables: iconv on POSIX, the system's code page on Windows.
#pragma once

#include <string>

/// `utf8` in code page 949. False for text that is not valid UTF-8, holds
/// a character the code page lacks, or holds a NUL (which would end the name
/// early on the handset).
bool ToCodePage949(const std::string& utf8, std::string& out);
