#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>

// The check every reader of untrusted names and settings relies on, at the
// edges of each sequence length and of the ranges the standard leaves out.
TEST (Utf8, WellFormedAtEveryBoundary)
{
    struct Case
    {
        const char* what;
        std::string bytes;
        bool wellFormed;
    };

    const Case cases[] = {
        { "empty",                        "",                          true  },
        { "ASCII up to U+007F",           "A~\x7f",                    true  },
        { "a NUL is a character",         std::string ("a\0b", 3),     true  },
        { "U+0080, first of two bytes",   "\xc2\x80",                  true  },
        { "U+07FF, last of two bytes",    "\xdf\xbf",                  true  },
        { "U+0800, first of three",       "\xe0\xa0\x80",              true  },
        { "U+D7FF, below the surrogates", "\xed\x9f\xbf",              true  },
        { "U+E000, above the surrogates", "\xee\x80\x80",              true  },
        { "U+FFFF, last of three",        "\xef\xbf\xbf",              true  },
        { "U+10000, first of four",       "\xf0\x90\x80\x80",          true  },
        { "U+10FFFF, the last",           "\xf4\x8f\xbf\xbf",          true  },
        { "a French name",                "R\xc3\xa9glages",           true  },

        { "a stray continuation byte",    "a\x80",                     false },
        { "a lead byte with no follower", "\xc3",                      false },
        { "three bytes cut after two",    "\xe2\x82",                  false },
        { "four bytes cut after three",   "\xf0\x9f\x8e",              false },
        { "a lead byte before ASCII",     "\xc3" "A",                  false },
        { "'/' in two bytes (C0)",        "\xc0\xaf",                  false },
        { "U+007F in two bytes (C1)",     "\xc1\xbf",                  false },
        { "U+07FF in three bytes",        "\xe0\x9f\xbf",              false },
        { "U+FFFF in four bytes",         "\xf0\x8f\xbf\xbf",          false },
        { "U+D800, first surrogate",      "\xed\xa0\x80",              false },
        { "U+DFFF, last surrogate",       "\xed\xbf\xbf",              false },
        { "U+110000, past the last",      "\xf4\x90\x80\x80",          false },
        { "F5, a lead byte never used",   "\xf5\x80\x80\x80",          false },
        { "FE and FF",                    "\xfe\xff",                  false },
    };

    for (auto& c : cases)
        EXPECT_EQ (isWellFormedUtf8 (c.bytes.data(), c.bytes.size()), c.wellFormed) << c.what;
}
