#include "tests/standin/standin_config.h"

#include <cctype>

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

// Milliseconds: plain digits, at most ten minutes, so a typo cannot hang a test forever.
bool ParseMs(const std::string& s, int& out) {
    if (s.empty() || s.size() > 6)
        return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > 600000)
        return false;
    out = v;
    return true;
}

} // namespace

bool ParseStandinConfig(const std::string& text, StandinConfig& config, std::string& error) {
    config = StandinConfig();
    size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#')
            continue;

        size_t sp = line.find_first_of(" \t");
        std::string word = line.substr(0, sp);
        std::string arg = sp == std::string::npos ? std::string() : Trim(line.substr(sp));
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };

        if (word == "title") {
            config.title = arg;
        } else if (word == "tree" || word == "nested-tree") {
            if (static_cast<int>(config.trees.size()) >= kStandinMaxTrees)
                return fail("more than " + std::to_string(kStandinMaxTrees) + " tree views");
            StandinTree tree;
            if (word == "nested-tree") {
                int depth = 1;
                if (!arg.empty() && (!ParseMs(arg, depth) || depth < 1 || depth > kStandinMaxDepth))
                    return fail("nesting depth must be 1 to " + std::to_string(kStandinMaxDepth));
                tree.depth = depth;
            } else if (!arg.empty()) {
                return fail("tree takes no argument");
            }
            config.trees.push_back(tree);
        } else if (word == "item") {
            if (config.trees.empty())
                return fail("item before any tree");
            if (arg.empty())
                return fail("item needs a text");
            config.trees.back().items.push_back(StandinItem{arg, {}});
        } else if (word == "child") {
            if (config.trees.empty() || config.trees.back().items.empty())
                return fail("child before any item");
            if (arg.empty())
                return fail("child needs a text");
            config.trees.back().items.back().children.push_back(arg);
        } else if (word == "window-delay") {
            if (!ParseMs(arg, config.windowDelayMs))
                return fail("window-delay needs milliseconds (0 to 600000)");
        } else if (word == "exit-after") {
            if (!ParseMs(arg, config.exitAfterMs))
                return fail("exit-after needs milliseconds (0 to 600000)");
        } else if (word == "no-window") {
            config.noWindow = true;
        } else {
            return fail("unknown directive '" + word + "'");
        }
    }
    return true;
}

StandinConfig DefaultStandinConfig() {
    StandinConfig config;
    StandinTree first;
    first.items = {{"Item 1", {"Item 1.1"}}, {"Item 2", {}}, {"Item 3", {}}};
    StandinTree second;
    second.depth = 1;
    second.items = {{"Folder A", {"Folder A.1", "Folder A.2"}}, {"Folder B", {}}};
    config.trees = {first, second};
    return config;
}

std::string ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string out = "Z:";
    for (char c : path)
        out += c == '/' ? '\\' : c;
    return out;
}
