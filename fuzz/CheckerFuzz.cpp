// Feeds arbitrary bytes to the checker's explanation: it must never fault, its final table
// must be the plug-in's own reading of the same bytes, and every value it prints must read
// back to the bits it stands for.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "basis/ValueText.h"
#include "checker/Report.h"
#include "checker/SettingsCheck.h"
#include "src/settings/NumberScan.h"
#include "src/settings/PickupSettings.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// Whether `text` reads back to exactly `bits` through the conversion of `kind`; the colour
// scan must take all of it.
bool ReadsBack(const std::string& text, SettingKind kind, std::uint32_t bits) {
    if (kind == SettingKind::Float) return std::bit_cast<std::uint32_t>(static_cast<float>(ConvertFloatPrefix(text))) == bits;
    const auto field = ScanFloatField(text, 0);
    return field && field->end == text.size() && std::bit_cast<std::uint32_t>(field->value) == bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Report report;
    report.read = true;
    report.check = CheckSettingsText(text);
    const std::string shown = TextReport(report, ReportDetail::All);
    TextReport(report, ReportDetail::Summary);
    HtmlReport(report, ReportDetail::All);
    HtmlReport(report, ReportDetail::Summary);
    Check(report.check.finals.size() == 59, "not every value in the final table");

    // The text's map, looked up key by key as the plug-in's documented way: the values the
    // checker shows must be those, bit for bit.
    const SettingsMap settings = ParseSettingsText(text);
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        const PickupSetting& setting = PickupSettings[i];
        const FinalSetting& final = report.check.finals[i];
        const auto value = settings.lookup(setting.key);
        Check(final.key == setting.key, "the final table out of the settings' order");
        Check((final.line != 0) == value.has_value(), "final value's origin is wrong");
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(final.value);
        if (setting.kind == SettingKind::Float) {
            const float expected = GetFloatSetting(settings, setting.key.data(), setting.defaultValue);
            Check(std::bit_cast<std::uint32_t>(expected) == bits, "final value differs from the plug-in's");
        } else {
            const PickupColorEntry expected =
                value ? ScanPickupColor(*value) : DefaultPickupColor(static_cast<int>(i - FloatSettingCount));
            Check(std::bit_cast<std::uint32_t>(expected.value) == bits, "final value differs from the plug-in's");
            Check(expected.channels == final.channels, "final channels differ from the plug-in's");
        }
        Check(ReadsBack(NumberText(final.value, setting.kind), setting.kind, bits), "printed value does not read back");
    }
    Check(StatusCode(ReportStatus(report)) == (report.check.warnings > 0 ? 1 : 0), "exit status does not follow the warnings");
    Check(shown.find("What the plug-in writes into the game:") != std::string::npos, "report without its table");
    return 0;
}
