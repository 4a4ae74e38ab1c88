#include "zel-dispatch/JsonRecord.h"

#include <nlohmann/json.hpp>

#include "common/Text.h"

namespace zeldispatch {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json, int indent) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string RecordJson(const JobRecord& record) {
    using zeltools::ToUtf8;
    Json json = {
        {"document", ToUtf8(record.document)},
        {"encoding", record.encoding == Encoding::Hex ? "hex" : "plain"},
        {"originalPath", ToUtf8(record.originalPath)},
        {"capturedPath", ToUtf8(record.capturedPath)},
        {"size", record.size},
        {"time", ToUtf8(record.time)},
        {"user", ToUtf8(record.user)},
    };
    const PdfResult& pdf = record.pdf;
    if (pdf.outcome != PdfOutcome::NotRequested) {
        // null, not 0 or "", for what is not known: a consumer must not
        // mistake a failed conversion for an empty document.
        json["pdf"] = {
            {"outcome", OutcomeName(pdf.outcome)},
            {"path", pdf.path.empty() ? Json() : Json(ToUtf8(pdf.path))},
            {"pages", pdf.pages < 0 ? Json() : Json(pdf.pages)},
            {"message", pdf.message},
        };
    }
    return Dump(json, 2) + "\n";
}

std::wstring JsonQuoted(const std::wstring& text) {
    return zeltools::FromUtf8(Dump(Json(zeltools::ToUtf8(text)), -1));
}

} // namespace zeldispatch
