// Configuration of the stand-in client: which tree views its main window
// holds and how it behaves. Portable, so the parser is tested natively.
//
// One directive per line; blank lines and lines starting with '#' are skipped.
//   title TEXT          main window title
//   tree                a tree view directly inside the main window
//   nested-tree [N]     a tree view below N intermediate child windows (1..4)
//   item TEXT           a top-level item of the last tree view
//   child TEXT          a child of the last top-level item
//   window-delay MS     create the main window MS milliseconds after start
//   no-window           never create the main window
//   exit-after MS       close the main window and exit MS milliseconds after READY
#pragma once

#include <string>
#include <vector>

constexpr int kStandinMaxTrees = 16;
constexpr int kStandinMaxDepth = 4;

struct StandinItem {
    std::string text;
    std::vector<std::string> children;
};

struct StandinTree {
    int depth = 0; // number of intermediate windows between the main window and the tree
    std::vector<StandinItem> items;
};

struct StandinConfig {
    std::string title = "Stand-in client";
    int windowDelayMs = 0;
    bool noWindow = false;
    int exitAfterMs = 0; // 0: stay until closed
    std::vector<StandinTree> trees;
};

// Parses the configuration text. On failure returns false and sets error to
// "line N: reason"; config is then unspecified.
bool ParseStandinConfig(const std::string& text, StandinConfig& config, std::string& error);

// The configuration used when none is given: two trees, one of them nested.
StandinConfig DefaultStandinConfig();

// A path given in Unix form ("/tmp/x.log") is turned into the Wine drive
// form ("Z:\tmp\x.log"); any other path is returned unchanged.
std::string ToWindowsPath(const std::string& path);
