#include "server/filehost/AbuseReport.h"

#include "server/filehost/FormCodec.h"

#include <algorithm>

namespace filehost {

namespace {

// Fields of a line of reports.tsv.
constexpr size_t kReportColumns = 5;
// The time ("2024-05-01T12:00:00Z") and an address (the longest IPv6 text is 45 bytes).
constexpr size_t kMaxTimeBytes = 20;
constexpr size_t kMaxAddressBytes = 64;
// An escaped byte takes at most this many ("\xHH").
constexpr size_t kMaxEscapedBytes = 4;

bool IsControl(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

// The longest start of the UTF-8 `text` of at most `max` bytes that ends between characters.
size_t CutPoint(std::string_view text, size_t max) {
    if (text.size() <= max)
        return text.size();
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

std::string Html(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head><body>" + body + "</body></html>\n";
}

} // namespace

AbuseReport ReadAbuseForm(std::string_view body, std::vector<FieldCut>& cuts) {
    const std::vector<FormField> fields = ParseForm(body);
    AbuseReport report;
    for (const ReportField& field : kReportFields) {
        std::string value;
        bool first = true;
        for (const FormField& posted : fields) {
            if (posted.first != field.name)
                continue;
            if (!first)
                value += '\n';
            value += posted.second;
            first = false;
        }
        const size_t kept = CutPoint(value, field.maxBytes);
        if (kept < value.size()) {
            cuts.push_back({field.label, kept, value.size()});
            value.resize(kept);
        }
        report.*field.member = std::move(value);
    }
    return report;
}

bool IsEmptyReport(const AbuseReport& report) {
    const auto blank = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    };
    return blank(report.links) && blank(report.reason);
}

std::string EscapeReportField(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            if (IsControl(b)) {
                escaped += "\\x";
                escaped += kHex[b >> 4];
                escaped += kHex[b & 15];
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

std::string ReportLine(const AbuseReport& report) {
    std::string line = EscapeReportField(report.time.substr(0, kMaxTimeBytes)) + '\t' +
                       EscapeReportField(report.address.substr(0, kMaxAddressBytes));
    for (const ReportField& field : kReportFields)
        line += '\t' +
                EscapeReportField(std::string_view(report.*field.member)
                                      .substr(0, CutPoint(report.*field.member, field.maxBytes)));
    return line + '\n';
}

size_t MaxReportLine() {
    size_t bytes = (kMaxTimeBytes + kMaxAddressBytes) * kMaxEscapedBytes + kReportColumns - 1;
    for (const ReportField& field : kReportFields)
        bytes += field.maxBytes * kMaxEscapedBytes;
    return bytes;
}

bool IsReportLine(std::string_view line) {
    if (line.size() > MaxReportLine())
        return false;
    size_t tabs = 0;
    for (const char c : line) {
        if (c == '\t')
            ++tabs;
        else if (IsControl(static_cast<unsigned char>(c)))
            return false;
    }
    return tabs == kReportColumns - 1;
}

std::string AbuseFormPage(std::string_view message) {
    std::string body = "<h1>Report abuse</h1>";
    if (!message.empty())
        body += "<p><strong>" + std::string(message) + "</strong></p>";
    body += "<p>Name the links to files that break the law or our terms, and say why.</p>"
            "<form method=\"post\" action=\"/?c=abuse\">";
    for (const ReportField& field : kReportFields) {
        const std::string name = field.name;
        body += "<p><label for=\"" + name + "\">" + field.label + " (up to " +
                std::to_string(field.maxBytes) + " bytes)</label><br>";
        if (field.member == &AbuseReport::contact)
            body += "<input id=\"" + name + "\" name=\"" + name + "\" size=\"60\">";
        else
            body += "<textarea id=\"" + name + "\" name=\"" + name +
                    "\" rows=\"8\" cols=\"80\"></textarea>";
        body += "</p>";
    }
    body += "<p><button type=\"submit\">Send the report</button></p></form>";
    return Html("Report abuse", body);
}

std::string AbuseThanksPage(const std::vector<FieldCut>& cuts) {
    std::string body = "<h1>Thank you</h1><p>Your report has been stored; we will look at it.</p>";
    if (!cuts.empty()) {
        body += "<p>Some fields were longer than they may be and were cut:</p><ul>";
        for (const FieldCut& cut : cuts)
            body += "<li class=\"cut\">" + std::string(cut.label) + ": " +
                    std::to_string(cut.received) + " bytes sent, the first " +
                    std::to_string(cut.kept) + " kept.</li>";
        body += "</ul><p>Send the rest in another report.</p>";
    }
    body += "<p><a href=\"/?c=abuse\">Report something else</a></p>";
    return Html("Thank you", body);
}

} // namespace filehost
