// Finding the job identifier in a document name, and the editor prefixes that
// are removed before the search.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "job/JobOperations.h"

using namespace Brambleworth::Zel::PortMon;

namespace {

struct IdCase {
    const wchar_t* name;
    const wchar_t* expected; // null: no identifier
};

TEST(FindJobId, KnownNames) {
    const IdCase cases[] = {
        {L"Invoice #%0123456789abcdef#%", L"0123456789abcdef"},
        {L"#%0123456789ABCDEF#%", L"0123456789ABCDEF"},
        {L"#%00FF00ff00Ff00fF#% trailing", L"00FF00ff00Ff00fF"},
        {L"#%memo#%00FF00FF00FF00FF#%", L"00FF00FF00FF00FF"},
        {L"#%#%0123456789ABCDEF#%", L"0123456789ABCDEF"},
        {L"#%#%#%#%0123456789ABCDEF#%#%", L"0123456789ABCDEF"},
        {L"a#%0123456789ABCDEF#%b#%FEDCBA9876543210#%", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDE#%", nullptr},       // 15 digits
        {L"#%0123456789ABCDEF0#%", nullptr},     // 17 digits
        {L"#%0123456789ABCDEG#%", nullptr},      // not hexadecimal
        {L"#%0123456789ABCDEF", nullptr},        // no closing delimiter
        {L"0123456789ABCDEF#%", nullptr},        // no opening delimiter
        {L"#%0123456789 ABCDE#%", nullptr},      // a blank is no digit
        {L"#%0123456789ABCDE\u0661#%", nullptr}, // nor is a non-Latin digit
        {L"%#0123456789ABCDEF%#", nullptr},      // delimiter reversed
        {L"#%%0123456789ABCDEF#%", nullptr},     // the '%' belongs to the candidate
        {L"##%0123456789ABCDEF#%", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDEF##%", nullptr}, // candidate ends in '#'
        {L"#%0123456789ABCDEF#%0123456789ABCDEF", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDEF0123456789ABCDEF#%", nullptr},
        {L"", nullptr},
        {L"#%", nullptr},
        {L"#%#%", nullptr},
        {L"#%#", nullptr},
    };
    for (const IdCase& c : cases) {
        std::wstring id = L"untouched";
        const bool found = FindJobId(c.name, id);
        EXPECT_EQ(found, c.expected != nullptr) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(id, c.expected ? c.expected : L"untouched")
            << testing::PrintToString(std::wstring(c.name));
    }
}

// Names assembled from pieces whose answer is known by construction: filler
// without delimiters, decoy candidates that must be skipped, and at most one
// valid identifier.
class GeneratedNames {
public:
    explicit GeneratedNames(unsigned seed) : random_(seed) {}

    std::wstring Filler() {
        static const wchar_t kChars[] = L"abcXYZ 019-_.%\u00e9\u4e2d#";
        std::wstring text;
        const int length = Pick(0, 6);
        for (int i = 0; i < length; ++i) {
            wchar_t c = kChars[Pick(0, static_cast<int>(std::size(kChars)) - 2)];
            // A '#' is only ever followed by something other than '%'.
            if (c == L'#') {
                text += L"#x";
            } else {
                text += c;
            }
        }
        return text;
    }

    std::wstring ValidId() {
        static const wchar_t kHex[] = L"0123456789ABCDEFabcdef";
        std::wstring id;
        for (int i = 0; i < 16; ++i) {
            id += kHex[Pick(0, 21)];
        }
        return id;
    }

    // Text between two delimiters that is not an identifier.
    std::wstring Decoy() {
        switch (Pick(0, 4)) {
        case 0:
            return std::wstring(); // delimiters back to back
        case 1:
            return ValidId().substr(0, 15);
        case 2:
            return ValidId() + L"0";
        case 3: {
            std::wstring id = ValidId();
            id[Pick(0, 15)] = L"gG xZ%\u00aa"[Pick(0, 6)];
            return id;
        }
        default:
            return Filler() + L"q"; // never 16 hex digits
        }
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

private:
    std::mt19937 random_;
};

TEST(FindJobId, GeneratedNamesWithAndWithoutIdentifiers) {
    GeneratedNames gen(20260305);
    for (int round = 0; round < 2000; ++round) {
        // Filler, then a chain of delimited decoys, optionally the identifier,
        // then more text that may hold further (ignored) identifiers.
        std::wstring name = gen.Filler();
        const int decoys = gen.Pick(0, 4);
        name += L"#%";
        for (int i = 0; i < decoys; ++i) {
            name += gen.Decoy() + L"#%";
        }
        const bool withId = gen.Pick(0, 1) == 1;
        std::wstring expected;
        if (withId) {
            expected = gen.ValidId();
            name += expected + L"#%";
            if (gen.Pick(0, 1)) {
                name += gen.ValidId() + L"#%";
            }
        } else if (gen.Pick(0, 1)) {
            // An identifier with no closing delimiter is none.
            name += gen.ValidId();
        }
        name += gen.Filler();

        std::wstring id;
        ASSERT_EQ(FindJobId(name, id), withId) << testing::PrintToString(name);
        if (withId) {
            ASSERT_EQ(id, expected) << testing::PrintToString(name);
        }
    }
}

TEST(StripEditorPrefixes, WordThenProjectEachOnceAtTheStart) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Microsoft Word - Letter", L"Letter"},
        {L"Microsoft Project - Plan", L"Plan"},
        {L"Microsoft Word - Microsoft Project - Plan", L"Plan"},
        {L"Microsoft Project - Microsoft Word - Memo", L"Microsoft Word - Memo"},
        {L"Microsoft Word - Microsoft Word - Twice", L"Microsoft Word - Twice"},
        {L"Draft Microsoft Word - Letter", L"Draft Microsoft Word - Letter"},
        {L"microsoft word - lower case", L"microsoft word - lower case"},
        {L"Microsoft Word -", L"Microsoft Word -"},
        {L"Microsoft Word - ", L""},
        {L"Microsoft Word - #%0123456789ABCDEF#% Letter", L"#%0123456789ABCDEF#% Letter"},
        {L"", L""},
    };
    for (const auto& [input, expected] : cases) {
        std::wstring name = input;
        StripEditorPrefixes(name);
        EXPECT_EQ(name, expected) << testing::PrintToString(std::wstring(input));
    }
}

} // namespace
