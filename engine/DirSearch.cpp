#include "engine/DirSearch.h"

#include <utility>

#include "engine/Wildcard.h"

TSearchData::TSearchData(std::string directory, int mask, std::string pattern,
                         const std::function<void()>& onEntry)
    : Dir(std::move(directory)), Pattern(std::move(pattern))
{
    if (!Dir.empty() && Dir.back() != '/')
        Dir += '/';
    Found = Find.First(Dir, mask, Rec, onEntry);
}

void TSearchData::Next()
{
    if (Found)
        Found = Find.Next(Rec);
}

TDirSearch::TDirSearch(std::string startDir, int mask, bool recurse, std::string filePattern,
                       std::function<void()> onVisit)
    : mask_(mask), recurse_(recurse), filePattern_(std::move(filePattern)), onVisit_(std::move(onVisit))
{
    if (!startDir.empty() && startDir.back() != '/')
        startDir += '/';
    std::string fixedPart = startDir;
    if (IsWild(startDir)) {
        // The walk starts in the folder before the first wild component.
        const size_t slash = startDir.rfind('/', startDir.find_first_of("*?<>|"));
        const size_t wildStart = slash == std::string::npos ? 0 : slash + 1;
        fixedPart = startDir.substr(0, wildStart);
        for (size_t p = wildStart, end; p < startDir.size(); p = end + 1) {
            end = startDir.find('/', p);
            if (end > p)
                wildDirs_.push_back(startDir.substr(p, end - p));
        }
    }
    levels_.emplace_back(fixedPart, mask_, wildDirs_.empty() ? filePattern_ : wildDirs_.front(), onVisit_);
}

bool TDirSearch::Next(platform::FindRecord& rec, std::string& fullName)
{
    while (!levels_.empty()) {
        if (onVisit_)
            onVisit_();
        TSearchData& level = levels_.back();
        if (!level.Found) {
            levels_.pop_back();
            if (!levels_.empty())
                levels_.back().Next();
            continue;
        }
        const platform::FindRecord& entry = level.Rec;
        const bool folder = (entry.Attr & platform::faDirectory) != 0;
        const bool properFolder = folder && entry.Name != "." && entry.Name != "..";
        const size_t depth = levels_.size() - 1;

        if (depth < wildDirs_.size()) {
            // A wild level only leads on, into the folders matching its component.
            if (properFolder && MatchesPattern(level.Pattern, entry.Name)) {
                const std::string& pattern = depth + 1 < wildDirs_.size() ? wildDirs_[depth + 1] : filePattern_;
                levels_.emplace_back(level.Dir + entry.Name, mask_, pattern, onVisit_);
            } else {
                level.Next();
            }
            continue;
        }

        if (properFolder && recurse_) {
            // The level stays on this folder and moves on once the folder is done.
            rec = entry;
            fullName = level.Dir + entry.Name + '/';
            levels_.emplace_back(fullName, mask_, filePattern_, onVisit_);
            return true;
        }
        if (!folder) {
            const bool hasExtension = entry.Name.find('.') != std::string::npos;
            if (MatchesPattern(filePattern_, hasExtension ? entry.Name : entry.Name + '.')) {
                rec = entry;
                fullName = level.Dir + entry.Name;
                level.Next();
                return true;
            }
        }
        level.Next();
    }
    fullName.clear();
    return false;
}
