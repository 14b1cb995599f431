#pragma once
// Copies a file over another without ever rewriting the target in place:
// the bytes go to a new file beside it, which is then renamed over it. A
// running program is replaced that way too, and a failed copy leaves the
// old target whole. The copy keeps the source's permission bits.
#include <string>

bool CopyFileReplacing(const std::string &source, const std::string &target);
