// The manual page: it renders without warnings and documents every option the
// usage text lists.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "process_runner.h"
#include "rm_writer.h"
#include "skip_notes.h"

namespace {

const std::string kManual = std::string(KESTRUP_SOURCE_DIR) + "/docs/kestrup.1";

TEST(Manual, NamesEveryOptionOfTheUsageText) {
    ProcessRequest request;
    request.closedInput = true;
    const std::string usage = runKestrupProcess(request).out;
    const rmw::Bytes bytes = rmw::readFile(kManual);
    const std::string manual(bytes.begin(), bytes.end());
    ASSERT_FALSE(manual.empty()) << kManual;

    std::set<std::string> options;
    const std::regex optionAtLineStart("\\n(-[a-z]+)");
    for (std::sregex_iterator it(usage.begin(), usage.end(), optionAtLineStart), end; it != end;
         ++it) {
        options.insert((*it)[1]);
    }
    EXPECT_EQ(options,
              (std::set<std::string>{"-help", "-q", "-y", "-b", "-d", "-m", "-p", "-g", "-speed"}));
    for (const std::string& option : options) {
        // roff writes a minus as \-, followed by the letters and a non-letter.
        const std::regex documented("\\n\\.BR? +\\\\-" + option.substr(1) + "\\b");
        EXPECT_TRUE(std::regex_search(manual, documented)) << option << " is not documented";
    }
}

TEST(Manual, RendersWithoutWarnings) {
    std::string report;
    if (haveProgram("mandoc")) {
        EXPECT_EQ(runShell("mandoc -T lint '" + kManual + "' 2>&1", &report), 0) << report;
    }
    if (!haveProgram("groff")) GTEST_SKIP() << skipNote("groff is not installed");
    EXPECT_EQ(runShell("groff -ww -z -man '" + kManual + "' 2>&1", &report), 0);
    EXPECT_EQ(report, "");
}

}  // namespace
