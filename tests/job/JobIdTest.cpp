// Finding the job identifier in a document name, and the editor prefixes that
// are removed before the search.

#include <gtest/gtest.h>

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
