#include "checker/Report.h"

#include <cstdio>

#include "checker/FloatText.h"
#include "checker/Text.h"

namespace {

std::uint64_t Warnings(const Report& report) {
    std::uint64_t warnings = report.check.warnings;
    for (const Remark& remark : report.remarks) warnings += remark.warning ? 1 : 0;
    return warnings;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string Source(const FinalSetting& setting) {
    return setting.line == 0 ? "default" : LineAndPiece(setting.line, setting.piece);
}

std::string NoteText(const Note& note) {
    return IsWarning(note.kind) ? "warning (" + std::string(FindingLabel(note.kind)) + "): " + note.text : note.text;
}

std::string SummaryText(const PieceVerdict& piece) {
    return "... and " + std::to_string(piece.summarisedMore) + " more like this, the last on line " +
           std::to_string(piece.summarisedLastLine);
}

std::string Closing(const Report& report) {
    const std::uint64_t warnings = Warnings(report);
    if (!report.read) return "No settings file was read: the plug-in will write every default shown above.";
    if (warnings == 0) return "Nothing looks wrong.";
    return std::to_string(warnings) + (warnings == 1 ? " warning." : " warnings.");
}

std::string Escaped(const std::string& text) {
    std::string html;
    for (const char c : text) {
        switch (c) {
            case '&': html += "&amp;"; break;
            case '<': html += "&lt;"; break;
            case '>': html += "&gt;"; break;
            case '"': html += "&quot;"; break;
            default: html += c;
        }
    }
    return html;
}

}  // namespace

int ExitStatus(const Report& report) {
    if (!report.read) return 2;
    return Warnings(report) > 0 ? 1 : 0;
}

std::string TextReport(const Report& report) {
    std::string out = "Glimmerward settings check\n\n" + report.subject + "\n";
    for (const Remark& remark : report.remarks) out += (remark.warning ? "  warning: " : "  ") + remark.text + "\n";
    if (report.read) {
        out += "\nLine by line, what the plug-in makes of the file:\n";
        if (report.check.pieces.empty()) out += "  (the file is empty: every value is its default)\n";
        for (const PieceVerdict& piece : report.check.pieces) {
            out += "  " + LineAndPiece(piece.line, piece.piece) + ": " + piece.shown + "\n";
            for (const Note& note : piece.notes) out += "      " + NoteText(note) + "\n";
            if (piece.summarisedMore > 0) out += "  " + SummaryText(piece) + "\n";
        }
        for (const Note& note : report.check.fileNotes) out += "  " + NoteText(note) + "\n";
    }
    out += "\nWhat the plug-in writes into the game:\n";
    out += "  " + Padded("setting", 26) + Padded("channels 0-3", 14) + Padded("value (bits)", 28) + "from\n";
    for (const FinalSetting& setting : report.check.finals) {
        out += "  " + Padded(setting.key, 26) + Padded(setting.color ? ChannelText(setting.channels) : "", 14) +
               Padded(RoundTripText(setting.value) + " (" + BitsText(setting.value) + ")", 28) + Source(setting) + "\n";
    }
    return out + "\n" + Closing(report) + "\n";
}

std::string HtmlReport(const Report& report) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Glimmerward settings check</title>\n"
        "<style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 8px;text-align:left;vertical-align:top}"
        ".warn{color:#a00000}.code{font-family:monospace}.sw{display:inline-block;width:3em;height:1.2em;"
        "border:1px solid #000}tr:nth-child(even){background:#f2f2f2}</style></head><body>\n"
        "<h1>Glimmerward settings check</h1>\n<p>" + Escaped(report.subject) + "</p>\n<ul>\n";
    for (const Remark& remark : report.remarks) {
        page += std::string(remark.warning ? "<li class=\"warn\">warning: " : "<li>") + Escaped(remark.text) + "</li>\n";
    }
    page += "</ul>\n";
    if (report.read) {
        page += "<h2>Line by line, what the plug-in makes of the file</h2>\n<table>\n";
        for (const PieceVerdict& piece : report.check.pieces) {
            page += "<tr><td>" + LineAndPiece(piece.line, piece.piece) + "</td><td><span class=\"code\">" +
                    Escaped(piece.shown) + "</span>";
            for (const Note& note : piece.notes) {
                page += std::string("<br><span") + (IsWarning(note.kind) ? " class=\"warn\"" : "") + ">" +
                        Escaped(NoteText(note)) + "</span>";
            }
            if (piece.summarisedMore > 0) page += "<br><em>" + Escaped(SummaryText(piece)) + "</em>";
            page += "</td></tr>\n";
        }
        page += "</table>\n";
        for (const Note& note : report.check.fileNotes) page += "<p class=\"warn\">" + Escaped(NoteText(note)) + "</p>\n";
    }
    page += "<h2>What the plug-in writes into the game</h2>\n"
            "<p>Colour swatches draw channels 0, 1 and 2 as red, green and blue. That is an assumption: the game's "
            "meaning of the channels is not known beyond their order.</p>\n"
            "<table><tr><th>setting</th><th>swatch</th><th>channels 0-3</th><th>value (bits)</th><th>from</th></tr>\n";
    for (const FinalSetting& setting : report.check.finals) {
        std::string swatch;
        if (setting.color) {
            swatch = "<span class=\"sw\" style=\"background:rgb(" + std::to_string(setting.channels[0]) + "," +
                     std::to_string(setting.channels[1]) + "," + std::to_string(setting.channels[2]) + ")\"></span>";
        }
        page += "<tr><td class=\"code\">" + Escaped(setting.key) + "</td><td>" + swatch + "</td><td class=\"code\">" +
                (setting.color ? ChannelText(setting.channels) : "") + "</td><td class=\"code\">" +
                Escaped(RoundTripText(setting.value) + " (" + BitsText(setting.value) + ")") + "</td><td>" +
                Source(setting) + "</td></tr>\n";
    }
    return page + "</table>\n<p><strong>" + Escaped(Closing(report)) + "</strong></p>\n</body></html>\n";
}
