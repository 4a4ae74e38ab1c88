#pragma once

// Where zel-dispatch files a job: the output folder, and a file name that
// Windows accepts and that still reads like the document's name.

#include <string>

namespace zeldispatch {

// Documents\Zel Jobs of the printing user (the temporary folder's when the
// user has no Documents folder).
std::wstring DefaultOutDir();

// Creates every missing folder along the path; true when the last one is
// there.
bool EnsureDirectory(const std::wstring& path);

// A file name stem that Windows accepts and that still reads like the
// document name: reserved characters, control characters and unpaired
// surrogates become '_', device names are defused, the length is bounded.
std::wstring SafeFileStem(const std::wstring& document);

// The stem with a collision counter: "name", "name (2)", "name (3)", ...
std::wstring NumberedStem(const std::wstring& stem, unsigned attempt);

// What the tokens of --out and --name stand for.
struct NameFields {
    std::wstring user;     // the user the dispatcher runs as: the printing user
    std::wstring date;     // local date, 2026-12-06
    std::wstring time;     // local time, 08-30-15 (a colon is no file name character)
    std::wstring document; // the document name
};
extern const wchar_t kNameTokens[]; // for help texts and errors

// `pattern` with each {user}, {date}, {time} and {document} replaced by its
// field as SafeFileStem makes it, so that a token never adds a folder or a
// character Windows refuses; the rest stays as written. False with `error`
// for a brace that opens no known token.
bool ExpandNamePattern(const std::wstring& pattern, const NameFields& fields,
                       std::wstring& expanded, std::wstring& error);

} // namespace zeldispatch
