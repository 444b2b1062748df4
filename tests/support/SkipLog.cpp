#include "SkipLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
    struct SkipLogger : ::testing::EmptyTestEventListener
    {
        explicit SkipLogger (std::string p) : path (std::move (p)) {}

        void OnTestEnd (const ::testing::TestInfo& info) override
        {
            if (! info.result()->Skipped())
                return;

            std::string reason;
            for (int i = 0; i < info.result()->total_part_count(); ++i)
                if (const auto& part = info.result()->GetTestPartResult (i); part.skipped())
                    reason += part.message();

            for (auto& c : reason)
                if (c == '\n' || c == '\t')
                    c = ' ';

            const auto line = std::string (info.test_suite_name()) + "." + info.name() + "\t" + reason + "\n";

            // One write per line in append mode: suites running at once do not interleave.
            if (auto* f = std::fopen (path.c_str(), "ab"))
            {
                std::setvbuf (f, nullptr, _IOFBF, line.size() + 1);
                std::fwrite (line.data(), 1, line.size(), f);
                std::fclose (f);
            }
            else
            {
                std::fprintf (stderr, "could not append to the skip log %s\n", path.c_str());
                std::abort();
            }
        }

        std::string path;
    };
}

void logSkippedTests()
{
    if (const auto* path = std::getenv ("OH_SKIP_LOG"); path != nullptr && *path != 0)
        ::testing::UnitTest::GetInstance()->listeners().Append (new SkipLogger (path));
}
