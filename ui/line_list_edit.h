#pragma once

#include <string>
#include <utility>
#include <vector>

// The changes the editors make to their ordered lists (rules, actions, the filter order): each
// gives the whole new list, which the caller stores before it shows it, and the row that stays
// selected afterwards.
namespace zelm {

/// A list of lines and the row selected in it (-1: none).
struct LineListEdit {
    std::vector<std::string> lines;
    int selected = -1;
};

/// The line appended; nothing selected.
inline LineListEdit Appended(std::vector<std::string> lines, std::string line) {
    lines.push_back(std::move(line));
    return {std::move(lines), -1};
}

/// The line inserted before the selected row, which stays selected; appended when none is.
inline LineListEdit InsertedBefore(std::vector<std::string> lines, int row, std::string line) {
    if (row < 0 || row >= static_cast<int>(lines.size())) return Appended(std::move(lines), line);
    lines.insert(lines.begin() + row, std::move(line));
    return {std::move(lines), row + 1};
}

/// The selected row removed (none selected: the list unchanged); nothing selected afterwards.
inline LineListEdit Removed(std::vector<std::string> lines, int row) {
    if (row >= 0 && row < static_cast<int>(lines.size())) lines.erase(lines.begin() + row);
    return {std::move(lines), -1};
}

/// The selected row moved one place up unless it is the first; nothing selected afterwards.
inline LineListEdit MovedUp(std::vector<std::string> lines, int row) {
    if (row > 0 && row < static_cast<int>(lines.size()))
        std::swap(lines[static_cast<std::size_t>(row)], lines[static_cast<std::size_t>(row - 1)]);
    return {std::move(lines), -1};
}

/// The selected row moved one place down unless it is the last; it stays selected.
inline LineListEdit MovedDown(std::vector<std::string> lines, int row) {
    if (row >= 0 && row + 1 < static_cast<int>(lines.size())) {
        std::swap(lines[static_cast<std::size_t>(row)], lines[static_cast<std::size_t>(row + 1)]);
        return {std::move(lines), row + 1};
    }
    return {std::move(lines), row};
}

} // namespace zelm
