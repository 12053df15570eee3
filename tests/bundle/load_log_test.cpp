// Reading load logs in their recorded and merged forms.
#include "bundle/load_log.h"

#include <gtest/gtest.h>

#include "utility/virtual_file_system.h"

namespace {

std::vector<std::string> paths_of(const std::vector<kam::IdString>& ids) {
    std::vector<std::string> paths;
    for (kam::IdString id : ids)
        paths.push_back(kam::string_of(id));
    return paths;
}

TEST(LoadLogTest, FormsReadAlike) {
    using Paths = std::vector<std::string>;
    const std::pair<std::string, Paths> cases[] = {
        // Two recording runs appended to one file read as one sequence, duplicates kept.
        {"   <open path=\"a\\b.xml\" flags=\"r\" />\r\n   <open path=\"c.ksf\" flags=\"rc\" />\r\n"
         "   <open path=\"a\\b.xml\" flags=\"r\" />\r\n",
         {"a\\b.xml", "c.ksf", "a\\b.xml"}},
        {"<open path=\"\" dir=\"/Maps//One/\"/><open/>", {"maps\\one", ""}},
        {"<close path=\"a\"/>text<open path=\"b\"/><!-- c -->", {"b"}},
        {"", {}},
        // What recording writes for any path reads back as that path in canonical form.
        {kam::VirtualFileSystem::load_log_line("Data/Units/Tank.XML", "r+") +
             kam::VirtualFileSystem::load_log_line("r&d\\<draft>\\\"quoted\" 'x'.xml", "r") +
             kam::VirtualFileSystem::load_log_line("a&amp;b.xml", "rc"),
         {"data\\units\\tank.xml", "r&d\\<draft>\\\"quoted\" 'x'.xml", "a&amp;b.xml"}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(paths_of(kam::parse_load_log(content, "x.log")), expected) << content;
    }
}

}  // namespace
