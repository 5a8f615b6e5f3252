#include "tests/standin/standin_config.h"

#include <gtest/gtest.h>

namespace {

StandinConfig ParseOk(const std::string& text) {
    StandinConfig config;
    std::string error;
    EXPECT_TRUE(ParseStandinConfig(text, config, error)) << "error: " << error;
    return config;
}

std::string ParseError(const std::string& text) {
    StandinConfig config;
    std::string error;
    EXPECT_FALSE(ParseStandinConfig(text, config, error)) << "accepted:\n" << text;
    return error;
}

TEST(StandinConfig, BuildsTreesItemsAndChildrenInOrder) {
    StandinConfig c = ParseOk("# two trees\r\n"
                              "title  Main window \r\n"
                              "tree\n"
                              "item Item 1\n"
                              "child Item 1.1\n"
                              "child  Item 1.2\n"
                              "item Item 2\n"
                              "\n"
                              "nested-tree 2\n"
                              "item Other\n");
    EXPECT_EQ("Main window", c.title);
    ASSERT_EQ(2u, c.trees.size());
    EXPECT_EQ(0, c.trees[0].depth);
    ASSERT_EQ(2u, c.trees[0].items.size());
    EXPECT_EQ("Item 1", c.trees[0].items[0].text);
    EXPECT_EQ((std::vector<std::string>{"Item 1.1", "Item 1.2"}), c.trees[0].items[0].children);
    EXPECT_EQ("Item 2", c.trees[0].items[1].text);
    EXPECT_TRUE(c.trees[0].items[1].children.empty());
    EXPECT_EQ(2, c.trees[1].depth);
    ASSERT_EQ(1u, c.trees[1].items.size());
    EXPECT_EQ("Other", c.trees[1].items[0].text);
}

TEST(StandinConfig, AllowsNoTreesAndEmptyTrees) {
    EXPECT_TRUE(ParseOk("").trees.empty());
    EXPECT_TRUE(ParseOk("# nothing\n\n").trees.empty());
    StandinConfig c = ParseOk("tree\ntree\nnested-tree\n");
    ASSERT_EQ(3u, c.trees.size());
    EXPECT_TRUE(c.trees[2].items.empty());
    EXPECT_EQ(1, c.trees[2].depth) << "nested-tree without a depth nests once";
}

TEST(StandinConfig, ReadsBehaviourDirectives) {
    StandinConfig c = ParseOk("window-delay 1500\nexit-after 250\nno-window\n");
    EXPECT_EQ(1500, c.windowDelayMs);
    EXPECT_EQ(250, c.exitAfterMs);
    EXPECT_TRUE(c.noWindow);
    StandinConfig plain = ParseOk("tree\n");
    EXPECT_EQ(0, plain.windowDelayMs);
    EXPECT_EQ(0, plain.exitAfterMs);
    EXPECT_FALSE(plain.noWindow);
}

TEST(StandinConfig, RejectsMisplacedOrMalformedLinesWithTheirNumber) {
    EXPECT_EQ("line 1: item before any tree", ParseError("item X\n"));
    EXPECT_EQ("line 2: child before any item", ParseError("tree\nchild X\n"));
    EXPECT_EQ("line 3: unknown directive 'tre'", ParseError("tree\n\ntre\n"));
    EXPECT_EQ("line 2: item needs a text", ParseError("tree\nitem\n"));
    EXPECT_NE(std::string::npos, ParseError("tree\nitem   \n").find("line 2: item needs a text"));
    EXPECT_NE(std::string::npos, ParseError("nested-tree 5\n").find("nesting depth"));
    EXPECT_NE(std::string::npos, ParseError("nested-tree 0\n").find("nesting depth"));
    EXPECT_NE(std::string::npos, ParseError("nested-tree x\n").find("nesting depth"));
    EXPECT_NE(std::string::npos, ParseError("tree 2\n").find("no argument"));
    EXPECT_NE(std::string::npos, ParseError("window-delay -5\n").find("window-delay"));
    EXPECT_NE(std::string::npos, ParseError("window-delay\n").find("window-delay"));
    EXPECT_NE(std::string::npos, ParseError("exit-after 600001\n").find("exit-after"));
}

TEST(StandinConfig, LimitsTheNumberOfTrees) {
    std::string text;
    for (int i = 0; i < kStandinMaxTrees; ++i)
        text += "tree\n";
    EXPECT_EQ(static_cast<size_t>(kStandinMaxTrees), ParseOk(text).trees.size());
    EXPECT_NE(std::string::npos, ParseError(text + "tree\n").find("line 17"));
}

TEST(StandinConfig, DefaultHasADirectAndANestedTree) {
    StandinConfig c = DefaultStandinConfig();
    ASSERT_EQ(2u, c.trees.size());
    EXPECT_EQ(0, c.trees[0].depth);
    EXPECT_EQ(1, c.trees[1].depth);
    EXPECT_FALSE(c.trees[0].items.empty());
    EXPECT_FALSE(c.noWindow);
}

TEST(StandinPaths, UnixPathsGoThroughDriveZ) {
    EXPECT_EQ("Z:\\tmp\\run 1\\log.txt", ToWindowsPath("/tmp/run 1/log.txt"));
    EXPECT_EQ("C:\\x\\y.txt", ToWindowsPath("C:\\x\\y.txt"));
    EXPECT_EQ("relative/name", ToWindowsPath("relative/name"));
    EXPECT_EQ("", ToWindowsPath(""));
}

} // namespace
