#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace filehost {

// The abuse form's body is refused (413) beyond this size.
constexpr size_t kMaxReportBody = 64 * 1024;

// A report of the abuse form, each text UTF-8 and within its field's bound.
struct AbuseReport {
    std::string time;    // when it arrived, UTC, "2024-05-01T12:00:00Z"
    std::string address; // the reporter's address
    std::string links;   // the links reported, as typed (usually one a line)
    std::string reason;
    std::string contact;
};

// One field of the form: its form name, the label shown, its bound in bytes of UTF-8 and where
// it goes in the report.
struct ReportField {
    const char* name;
    const char* label;
    size_t maxBytes;
    std::string AbuseReport::*member;
};
inline constexpr ReportField kReportFields[] = {
    {"links", "Links", 16 * 1024, &AbuseReport::links},
    {"reason", "Reason", 8 * 1024, &AbuseReport::reason},
    {"contact", "Contact", 512, &AbuseReport::contact},
};

// A field that was over its bound: `kept` of its `received` bytes were kept.
struct FieldCut {
    const char* label;
    size_t kept = 0;
    size_t received = 0;
};

// Reads the form fields of an application/x-www-form-urlencoded body (bytes that are not UTF-8
// are read as Latin-1 characters, as every form of the site; several fields of one name are
// joined by line feeds) and cuts each at its bound, on a character boundary. Each cut is added
// to `cuts`. Other fields are ignored.
AbuseReport ReadAbuseForm(std::string_view body, std::vector<FieldCut>& cuts);

// True when the report says nothing: no links and no reason.
bool IsEmptyReport(const AbuseReport& report);

// A text as a field of reports.tsv: "\" as "\\", tab, line feed and carriage return as "\t",
// "\n", "\r", every other control byte (below 0x20, and 0x7F) as "\xHH". The result holds no
// byte below 0x20 and at most four bytes for each one of `text`.
std::string EscapeReportField(std::string_view text);

// The line of reports.tsv for a report: time, address, links, reason and contact, escaped and
// tab-separated, ending in a line feed.
std::string ReportLine(const AbuseReport& report);

// The longest line a report can make; the listing skips longer ones.
size_t MaxReportLine();

// True for a line (without its line feed) as ReportLine writes them: five fields, no control
// byte but the four tabs, at most MaxReportLine() bytes.
bool IsReportLine(std::string_view line);

// The pages of the form: the form itself, with `message` (HTML of ours, never the reporter's
// text) above it, and the answer to a stored report, which names every field that was cut and
// by how much. Neither shows what the reporter sent.
std::string AbuseFormPage(std::string_view message = {});
std::string AbuseThanksPage(const std::vector<FieldCut>& cuts);

} // namespace filehost
