#pragma once

#include <string>
#include <string_view>

// history.txt in the given folder (the program folder when folder is empty).
std::string HistoryLogPath(const std::string& folder, const std::string& programFolder);

// Adds text as the log's new last element, ending in a line end. Creates a
// missing log with its header. Costs O(length of text) when the file already
// ends with a line end. Throws FileError naming the file.
void AppendToHistory(const std::string& logPath, std::string_view text);

// Replaces the log with its header only.
void WriteHistoryHeader(const std::string& logPath);
