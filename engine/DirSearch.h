// Directory walks: TSearchData is one folder level, TDirSearch walks a tree
// of them depth-first, possibly through wild folder components such as
// "/data/*/logs/".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"

// One folder level of a walk: a find over every entry of the folder that the
// attribute mask lets through, with its current entry.
struct TSearchData {
    // directory gets a '/' appended when missing; an empty one means the
    // current folder. The pattern is kept for the walk; the find reports every
    // name. onEntry is called for every name the folder's reading meets.
    TSearchData(std::string directory, int mask, std::string pattern, const std::function<void()>& onEntry = {});

    // Moves to the next entry when a current entry exists.
    void Next();

    std::string Dir;         // ends with '/', or empty for the current folder
    std::string Pattern;     // what this level's names are matched against
    platform::FindRecord Rec;
    bool Found = false;      // Rec holds a current entry
    platform::FindHandle Find;
};

class TDirSearch {
public:
    // startDir may hold wildcards in its folder components; each such
    // component is matched against the folder names of its level, and the
    // files of the folders reached are matched against filePattern. With
    // recurse, the folders below are walked too. onVisit, when given, is
    // called for every entry the walk reads or looks at, matching or not, so
    // that a caller can let messages through (and stop the walk by throwing)
    // however few names match and however large a folder is.
    TDirSearch(std::string startDir, int mask, bool recurse, std::string filePattern,
               std::function<void()> onVisit = {});

    // The next file matching the file pattern or, when recursing, the next
    // folder (before its contents; its full name ends with '/'). A name
    // without an extension is matched with "." appended, so "README" is
    // found by "*.*" and "*." but not by "readme". Returns false, with
    // fullName empty, when the walk is over.
    bool Next(platform::FindRecord& rec, std::string& fullName);

private:
    int mask_;
    bool recurse_;
    std::string filePattern_;
    std::function<void()> onVisit_;
    std::vector<std::string> wildDirs_;  // the wild folder components, one per level
    std::vector<TSearchData> levels_;    // levels_[0] is the start folder
};
