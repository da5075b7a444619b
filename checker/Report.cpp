#include "checker/Report.h"

#include <cstring>

#include "basis/Text.h"
#include "basis/ValueText.h"
#include "src/settings/PickupSettings.h"

namespace {

std::uint64_t Warnings(const Report& report) {
    std::uint64_t warnings = report.check.warnings;
    for (const Remark& remark : report.remarks) warnings += remark.warning ? 1 : 0;
    return warnings;
}

bool HasWarning(const PieceVerdict& piece) {
    for (const Note& note : piece.notes) {
        if (IsWarning(note.kind)) return true;
    }
    return false;
}

// A file that is no text at all is said first: nothing after it makes sense without it.
bool SaidFirst(const Note& note) { return note.kind == Finding::NotText; }

bool DiffersFromDefault(const FinalSetting& setting, const PickupSetting& model) {
    const bool sameValue = std::memcmp(&setting.value, &model.defaultValue, sizeof(float)) == 0;
    return !sameValue || (setting.color && setting.channels != model.defaultChannels);
}

std::vector<const FinalSetting*> Differing(const Report& report) {
    std::vector<const FinalSetting*> differing;
    for (std::size_t i = 0; i < report.check.finals.size(); ++i) {
        if (DiffersFromDefault(report.check.finals[i], PickupSettings[i])) differing.push_back(&report.check.finals[i]);
    }
    return differing;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string Source(const FinalSetting& setting) {
    return setting.line == 0 ? "default" : LineAndPiece(setting.line, setting.piece);
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

std::string TableHeading() {
    return "  " + Padded("setting", 26) + Padded("channels 0-3", 17) + Padded("value (bits)", 28) + "from\n";
}

std::string TableRow(const FinalSetting& setting) {
    return "  " + Padded(setting.key, 26) + Padded(setting.color ? ChannelText(setting.channels) : "", 17) +
           Padded(NumberAndBitsText(setting.value, setting.kind()), 28) + Source(setting) + "\n";
}

std::string PieceText(const PieceVerdict& piece, bool warningsOnly) {
    std::string out = "  " + LineAndPiece(piece.line, piece.piece) + ": " + piece.shown + "\n";
    for (const Note& note : piece.notes) {
        if (!warningsOnly || IsWarning(note.kind)) out += "      " + NoteText(note) + "\n";
    }
    if (piece.summarisedMore > 0) out += "  " + SummaryText(piece) + "\n";
    return out;
}

std::string HtmlRow(const FinalSetting& setting) {
    std::string swatch;
    if (setting.color) {
        swatch = "<span class=\"sw\" style=\"background:rgb(" + std::to_string(setting.channels[0]) + "," +
                 std::to_string(setting.channels[1]) + "," + std::to_string(setting.channels[2]) + ")\"></span>";
    }
    return "<tr><td class=\"code\">" + Escaped(setting.key) + "</td><td>" + swatch + "</td><td class=\"code\">" +
           (setting.color ? ChannelText(setting.channels) : "") + "</td><td class=\"code\">" +
           Escaped(NumberAndBitsText(setting.value, setting.kind())) + "</td><td>" + Source(setting) + "</td></tr>\n";
}

std::string HtmlTable(const std::vector<const FinalSetting*>& settings) {
    std::string table = "<table><tr><th>setting</th><th>swatch</th><th>channels 0-3</th><th>value (bits)</th>"
                        "<th>from</th></tr>\n";
    for (const FinalSetting* setting : settings) table += HtmlRow(*setting);
    return table + "</table>\n";
}

std::string HtmlPiece(const PieceVerdict& piece, bool warningsOnly) {
    std::string row = "<tr><td>" + LineAndPiece(piece.line, piece.piece) + "</td><td><span class=\"code\">" +
                      Escaped(piece.shown) + "</span>";
    for (const Note& note : piece.notes) {
        if (warningsOnly && !IsWarning(note.kind)) continue;
        row += std::string("<br><span") + (IsWarning(note.kind) ? " class=\"warn\"" : "") + ">" + Escaped(NoteText(note)) +
               "</span>";
    }
    if (piece.summarisedMore > 0) row += "<br><em>" + Escaped(SummaryText(piece)) + "</em>";
    return row + "</td></tr>\n";
}

}  // namespace

ReportProblems Problems(const Report& report) {
    ReportProblems problems;
    if (!report.read) return problems;
    for (const Note& note : report.check.fileNotes) (SaidFirst(note) ? problems.leading : problems.trailing).push_back(&note);
    for (const PieceVerdict& piece : report.check.pieces) {
        if (HasWarning(piece)) problems.pieces.push_back(&piece);
    }
    return problems;
}

std::string NoteText(const Note& note) {
    return IsWarning(note.kind) ? "warning (" + std::string(FindingLabel(note.kind)) + "): " + note.text : note.text;
}

std::string SummaryText(const PieceVerdict& piece) {
    return "... and " + std::to_string(piece.summarisedMore) + " more like this, the last on line " +
           std::to_string(piece.summarisedLastLine);
}

std::string FromFileText(const Report& report) {
    std::size_t fromFile = 0;
    for (const FinalSetting& setting : report.check.finals) fromFile += setting.line != 0 ? 1 : 0;
    const std::size_t all = report.check.finals.size();
    if (fromFile == 0) return "No setting comes from the file: all " + std::to_string(all) + " keep their defaults.";
    if (fromFile == all) return "From the file: all " + std::to_string(all) + " settings.";
    return "From the file: " + std::to_string(fromFile) + " of the " + std::to_string(all) + " settings; the other " +
           std::to_string(all - fromFile) + " keep their defaults.";
}

std::string ClosingText(const Report& report) {
    const std::uint64_t warnings = Warnings(report);
    if (!report.read) return "No settings file was read: the plug-in will write every setting's default.";
    if (warnings == 0) return "Nothing looks wrong.";
    return std::to_string(warnings) + (warnings == 1 ? " warning." : " warnings.");
}

ExitStatus ReportStatus(const Report& report) {
    if (!report.read) return ExitStatus::NoSettingsFile;
    return Warnings(report) > 0 ? ExitStatus::Warnings : ExitStatus::NothingWrong;
}

std::string TextReport(const Report& report, ReportDetail detail) {
    const SettingsCheck& check = report.check;
    std::string out = "Glimmerward settings check\n\n" + report.subject + "\n";
    for (const Remark& remark : report.remarks) out += (remark.warning ? "  warning: " : "  ") + remark.text + "\n";

    if (report.read) {
        const ReportProblems listed = Problems(report);
        std::string problems;
        for (const Note* note : listed.leading) problems += "  " + NoteText(*note) + "\n";
        for (const PieceVerdict* piece : listed.pieces) problems += PieceText(*piece, true);
        for (const Note* note : listed.trailing) problems += "  " + NoteText(*note) + "\n";
        out += problems.empty() ? "\nNo problems in the settings file.\n" : "\nProblems in the settings file:\n" + problems + "\n";
        out += FromFileText(report) + "\n";

        const auto differing = Differing(report);
        if (differing.empty()) {
            out += "\nEvery setting has its default value.\n";
        } else {
            out += "\nSettings that differ from their defaults:\n" + TableHeading();
            for (const FinalSetting* setting : differing) out += TableRow(*setting);
        }
    }

    if (detail == ReportDetail::All) {
        if (report.read) {
            out += "\nLine by line, what the plug-in makes of the file:\n";
            if (check.pieces.empty()) out += "  (the file is empty: every value is its default)\n";
            for (const PieceVerdict& piece : check.pieces) out += PieceText(piece, false);
            for (const Note& note : check.fileNotes) out += "  " + NoteText(note) + "\n";
        }
        out += "\nWhat the plug-in writes into the game:\n" + TableHeading();
        for (const FinalSetting& setting : check.finals) out += TableRow(setting);
    }
    out += "\n" + ClosingText(report) + "\n";
    if (detail == ReportDetail::Summary) {
        out += "For every line's verdict and all " + std::to_string(check.finals.size()) +
               " values, run glimmerward-check --all\n";
    }
    return out;
}

std::string HtmlReport(const Report& report, ReportDetail detail) {
    const SettingsCheck& check = report.check;
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Glimmerward settings check</title>\n"
        "<style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 8px;text-align:left;vertical-align:top}td:first-child{white-space:nowrap}"
        ".warn{color:#a00000}.code{font-family:monospace}.sw{display:inline-block;width:3em;height:1.2em;"
        "border:1px solid #000}tr:nth-child(even){background:#f2f2f2}</style></head><body>\n"
        "<h1>Glimmerward settings check</h1>\n<p>" + Escaped(report.subject) + "</p>\n<ul>\n";
    for (const Remark& remark : report.remarks) {
        page += std::string(remark.warning ? "<li class=\"warn\">warning: " : "<li>") + Escaped(remark.text) + "</li>\n";
    }
    page += "</ul>\n";
    if (report.read) {
        const ReportProblems listed = Problems(report);
        const auto fileRow = [](const Note* note) {
            return "<tr><td></td><td class=\"warn\">" + Escaped(NoteText(*note)) + "</td></tr>\n";
        };
        std::string problems;
        for (const Note* note : listed.leading) problems += fileRow(note);
        for (const PieceVerdict* piece : listed.pieces) problems += HtmlPiece(*piece, true);
        for (const Note* note : listed.trailing) problems += fileRow(note);
        page += problems.empty() ? "<p>No problems in the settings file.</p>\n"
                                 : "<h2>Problems in the settings file</h2>\n<table>\n" + problems + "</table>\n";
        page += "<p>" + Escaped(FromFileText(report)) + "</p>\n";

        const auto differing = Differing(report);
        page += "<h2>Settings that differ from their defaults</h2>\n";
        page += "<p>Colour swatches draw channels 0, 1 and 2 as red, green and blue. That is an assumption: the game's "
                "meaning of the channels is not known beyond their order.</p>\n";
        page += differing.empty() ? "<p>None: every setting has its default value.</p>\n" : HtmlTable(differing);
    }
    if (detail == ReportDetail::All) {
        if (report.read) {
            page += "<h2>Line by line, what the plug-in makes of the file</h2>\n<table>\n";
            for (const PieceVerdict& piece : check.pieces) page += HtmlPiece(piece, false);
            page += "</table>\n";
            for (const Note& note : check.fileNotes) page += "<p class=\"warn\">" + Escaped(NoteText(note)) + "</p>\n";
        }
        std::vector<const FinalSetting*> all;
        for (const FinalSetting& setting : check.finals) all.push_back(&setting);
        page += "<h2>What the plug-in writes into the game</h2>\n" + HtmlTable(all);
    }
    return page + "<p><strong>" + Escaped(ClosingText(report)) + "</strong></p>\n</body></html>\n";
}
