// Finding the job identifier in a document name, and the editor prefixes that
// are removed before the search.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "job/JobOperations.h"

using namespace Brambleworth::Zel::PortMon;

namespace {

TEST(FindJobId, KnownNames) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        // name, identifier (null: none)
        {L"Invoice #%0123456789abcdef#%", L"0123456789abcdef"},
        {L"#%00FF00ff00Ff00fF#% trailing", L"00FF00ff00Ff00fF"},
        {L"#%memo#%00FF00FF00FF00FF#%", L"00FF00FF00FF00FF"},
        {L"#%#%#%0123456789ABCDEF#%#%", L"0123456789ABCDEF"},
        {L"a#%0123456789ABCDEF#%b#%FEDCBA9876543210#%", L"0123456789ABCDEF"},
        {L"##%0123456789ABCDEF#%", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDEF#%0123456789ABCDEF", L"0123456789ABCDEF"},
        {L"#%0123456789ABCDE#%", nullptr},   // 15 digits
        {L"#%0123456789ABCDEF0#%", nullptr}, // 17 digits
        {L"#%0123456789ABCDEG#%", nullptr},
        {L"#%0123456789ABCDE\u0661#%", nullptr}, // a non-Latin digit
        {L"#%0123456789ABCDEF", nullptr},
        {L"%#0123456789ABCDEF%#", nullptr},
        {L"#%%0123456789ABCDEF#%", nullptr}, // the '%' belongs to the candidate
        {L"#%0123456789ABCDEF##%", nullptr}, // candidate ends in '#'
        {L"", nullptr},
        {L"#%#", nullptr},
    };
    for (const auto& [name, expected] : cases) {
        std::wstring id = L"untouched";
        EXPECT_EQ(FindJobId(name, id), expected != nullptr) << testing::PrintToString(name);
        EXPECT_EQ(id, expected ? expected : L"untouched") << testing::PrintToString(name);
    }
}

// Names assembled from pieces whose answer is known by construction: filler
// without delimiters, decoy candidates between delimiters (back to back, 15 or
// 17 digits, a non-hex digit), and at most one valid identifier after them.
TEST(FindJobId, GeneratedNamesWithAndWithoutIdentifiers) {
    std::mt19937 random(20260305);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto filler = [&] {
        std::wstring text;
        for (int i = pick(0, 6); i > 0; --i) {
            text += L"abZ 09-.%\u00e9\u4e2d"[pick(0, 10)];
        }
        return text + (pick(0, 1) ? L"#x" : L""); // '#' never before '%'
    };
    auto validId = [&] {
        std::wstring id;
        for (int i = 0; i < 16; ++i) {
            id += L"0123456789ABCDEFabcdef"[pick(0, 21)];
        }
        return id;
    };
    for (int round = 0; round < 2000; ++round) {
        std::wstring name = filler() + L"#%";
        for (int i = pick(0, 4); i > 0; --i) {
            std::wstring decoy = validId();
            switch (pick(0, 3)) {
            case 0:
                decoy.clear();
                break;
            case 1:
                decoy.pop_back();
                break;
            case 2:
                decoy += L"0";
                break;
            default:
                decoy[pick(0, 15)] = L"gG xZ%\u00aa"[pick(0, 6)];
            }
            name += decoy + L"#%";
        }
        const bool withId = pick(0, 1) == 1;
        const std::wstring expected = validId();
        // Without delimiter after it, an identifier is none.
        name += expected + (withId ? L"#%" : L"") + filler();

        std::wstring id;
        ASSERT_EQ(FindJobId(name, id), withId) << testing::PrintToString(name);
        if (withId) {
            ASSERT_EQ(id, expected) << testing::PrintToString(name);
        }
    }
}

TEST(StripEditorPrefixes, WordThenProjectEachOnceAtTheStart) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Microsoft Word - Microsoft Project - Plan", L"Plan"},
        {L"Microsoft Project - Microsoft Word - Memo", L"Microsoft Word - Memo"},
        {L"Microsoft Word - Microsoft Word - Twice", L"Microsoft Word - Twice"},
        {L"Draft Microsoft Word - Letter", L"Draft Microsoft Word - Letter"},
        {L"microsoft word - lower case", L"microsoft word - lower case"},
        {L"Microsoft Word -", L"Microsoft Word -"},
        {L"Microsoft Word - ", L""},
    };
    for (const auto& [input, expected] : cases) {
        std::wstring name = input;
        StripEditorPrefixes(name);
        EXPECT_EQ(name, expected) << testing::PrintToString(std::wstring(input));
    }
}

} // namespace
