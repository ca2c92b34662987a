#pragma once
// The rules of the "Browse..." file dialog that need no window: which name
// it starts with and how the file-type filter text reads.

#include <string>

struct SInitialBrowseName {
    std::string initialName;  // shown in the dialog's name field
    std::string fileName;     // the (possibly rewritten) m_fileName
};

// The start name for fileName: programDir + "*.upd" when it is empty; a
// name ending in '/' loses all trailing slashes and gets "/*.upd" (the
// rewrite also becomes the new file name); any other name is used as is.
SInitialBrowseName InitialBrowseName(const std::string& fileName, const std::string& programDir);

// "a|b|c|d||" (text and pattern pairs, ended by an empty pair) as a Qt
// name filter list "a;;c": Qt takes each pattern from the text's brackets.
std::string ConvertFileFilter(const std::string& filter);

// True when the folder part of a start name exists (a name without a
// folder part counts as the current folder).
bool InitialFolderExists(const std::string& initialName);
