// Symbolic links met by extraction and by the walk of a content root, on the in-memory file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bundle/bundle_builder.h"
#include "bundle/bundle_bytes.h"
#include "bundle/bundle_extractor.h"
#include "bundle/file_filter.h"
#include "support/error_of.h"
#include "support/memory_file_system.h"
#include "utility/command_line.h"

namespace {

using Lines = std::vector<std::string>;

// Fills the file system from lines "d path", "f path=bytes" and "l path>target".
void lay_out(test::MemoryFileSystem& fs, const Lines& lines) {
    for (const std::string& line : lines) {
        const std::string rest = line.substr(2);
        const size_t cut = rest.find_first_of("=>");
        if (line[0] == 'd')
            fs.directories.insert(rest);
        else if (line[0] == 'f')
            fs.files[rest.substr(0, cut)] = {rest.substr(cut + 1), 0};
        else
            fs.links[rest.substr(0, cut)] = rest.substr(cut + 1);
    }
}

// The file system as lay_out lines, sorted.
Lines layout(const test::MemoryFileSystem& fs) {
    Lines lines;
    for (const std::string& path : fs.directories)
        lines.push_back("d " + path);
    for (const auto& file : fs.files)
        lines.push_back("f " + file.first + "=" + file.second.bytes);
    for (const auto& link : fs.links)
        lines.push_back("l " + link.first + ">" + link.second);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(LinkRulesTest, ExtractionNeverFollowsALinkInTheTarget) {
    struct Case {
        const char* name;
        const char* bundle;   // its records, files without data
        Lines before, after;  // after: sorted
        int refused;
    };
    const Case cases[] = {
        {"new files, in a new directory too",
         "a.txt sub/ b.txt ]",
         {"d t"},
         {"d t", "d t\\sub", "f t\\a.txt=", "f t\\sub\\b.txt="},
         0},
        {"a link where a file goes is refused and kept",
         "a.txt",
         {"d t", "f out=old", "l t\\a.txt>out"},
         {"d t", "f out=old", "l t\\a.txt>out"},
         1},
        {"a link where a directory goes is refused and not entered",
         "sub/ b.txt ]",
         {"d t", "d out", "l t\\sub>out"},
         {"d out", "d t", "l t\\sub>out"},
         1},
        {"a hidden name deletes a link, not what it leads to",
         "-gone",
         {"d t", "d out", "f out\\keep=k", "l t\\gone>out"},
         {"d out", "d t", "f out\\keep=k"},
         0},
        {"a hidden directory goes with the links inside as links",
         "-d",
         {"d t", "d t\\d", "f t\\d\\f=x", "l t\\d\\l>out", "d out", "f out\\keep=k"},
         {"d out", "d t", "f out\\keep=k"},
         0},
    };
    for (const Case& c : cases) {
        kam::BundleIndex index;
        index.load(
            test::archive_of(test::Bytes().header(2).records(c.bundle + std::string(" ]")).data));
        test::MemoryFileSystem fs;
        lay_out(fs, c.before);

        CommandLine line(std::vector<std::string>{});
        kam::BundleExtractor extractor(fs, index, {true, true});
        test::output_of([&] { extractor.extract("", "t"); });
        EXPECT_EQ(layout(fs), c.after) << c.name;
        EXPECT_EQ(extractor.refused(), c.refused) << c.name;
    }
}

TEST(LinkRulesTest, TheWalkReportsLinksBackUpAndHidesLinksToNothing) {
    struct Case {
        const char* name;
        Lines before;
        std::string bundle;
        std::string said;
    };
    const Case cases[] = {
        {"a link back up is not followed",
         {"d lr", "f lr\\a.txt=", "d lr\\sub", "f lr\\sub\\b.txt=", "l lr\\sub\\up>lr"},
         "a.txt 0 0 1;sub/ 1{b.txt 0 0 1;}",
         "Ignoring file lr\\sub\\up, it leads back to a directory above it\n"},
        {"a link to nothing is a hidden name",
         {"d lr", "f lr\\a.txt=", "l lr\\gone.txt>nothing"},
         "a.txt 0 0 1;gone.txt 0 0 0;",
         ""},
    };
    for (const Case& c : cases) {
        test::MemoryFileSystem fs;
        lay_out(fs, c.before);
        kam::BundleSettings settings;
        settings.root = "lr";
        settings.force_destination = "lr.bundle";

        CommandLine line(std::vector<std::string>{"-v"});
        kam::BundleBuilder builder;
        kam::FileFilter filter(fs, builder, settings);
        EXPECT_EQ(test::output_of([&] { filter.walk(); }), c.said) << c.name;
        EXPECT_EQ(test::dump(builder.index().root()), c.bundle) << c.name;
    }
}

}  // namespace
